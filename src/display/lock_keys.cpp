// Caps, Num and Scroll Lock following the keyboard: start-up presses the lock and modifier keys that
// are down or on, and the control thread keeps the lock codes of the held-key list in step with the
// toggles. Not here: the Scroll Lock toggle itself (key_events.cpp).
#include "display/bios_keyboard.h"
#include "display/key_table.h"
#include "display/keyboard_internal.h"

namespace {

// Outside the lock: the source may ask the window system. The control thread's turns need only
// the toggles.
platform_key_states lock_key_states_read(bool toggles_only) {
    lock_key_source source;
    {
        std::lock_guard guard(kb.lock);
        source = kb.data.source;
    }
    if (source) return source();
    return toggles_only ? platform_lock_states_read() : platform_key_states_read();
}

// A lock code of the held-key list follows its toggle: pressed when it comes on, released when it
// goes off.
void lock_follow_locked(int32_t code, bool on) {
    if (on == held_keys_has(kb.data.held_key_list, code)) return;
    if (on) key_press_tagged_locked(code);
    else key_release_tagged_locked(code);
    bios_flags_write(kb.data.held_key_list);
}

}  // namespace

void lock_key_source_set(lock_key_source source) {
    std::lock_guard guard(kb.lock);
    kb.data.source = source;
}

void keyboard_lock_keys_sync() {
    platform_key_states states = lock_key_states_read(true);
    std::lock_guard guard(kb.lock);
    held_keys& held = kb.data.held_key_list;
    if (kb.data.scroll_lock_toggle != held_keys_has(held, key_scroll_lock_on)) {
        held_keys_toggle(held, key_scroll_lock_on);
        bios_flags_write(held);
    }
    lock_follow_locked(key_caps_lock, states.caps_lock);
    lock_follow_locked(key_num_lock, states.num_lock);
}

void lock_keys_read() {
    platform_key_states states = lock_key_states_read(false);
    std::lock_guard guard(kb.lock);
    if (kb.data.scroll_lock_toggle) held_keys_add(kb.data.held_key_list, key_scroll_lock_on);
    const std::pair<bool, int32_t> held_now[] = {
        {states.scroll_lock_key, key_scroll_lock}, {states.left_shift, key_left_shift},
        {states.right_shift, key_right_shift},     {states.left_ctrl, key_left_ctrl},
        {states.right_ctrl, key_right_ctrl},       {states.left_alt, key_left_alt},
        {states.right_alt, key_right_alt},         {states.caps_lock, key_caps_lock},
        {states.num_lock, key_num_lock},
    };
    for (const auto& [down, code] : held_now)
        if (down) key_press_tagged_locked(code);
    bios_flags_write(kb.data.held_key_list);
}
