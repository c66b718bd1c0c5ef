// The keyboard's lock toggles and held modifier keys as the X server has them, read through a
// connection of its own (start-up, then only the control thread). Without a display every key
// reads as up and every toggle as off. X has no Scroll Lock state: the keyboard keeps that one.
#pragma once

struct platform_key_states {
    bool caps_lock, num_lock;
    bool left_shift, right_shift, left_ctrl, right_ctrl, left_alt, right_alt, scroll_lock_key;
};

platform_key_states platform_key_states_read();
// Only the Caps and Num Lock toggles (the rest up), from the server's state events: costs no round
// trip while nothing changes.
platform_key_states platform_lock_states_read();
