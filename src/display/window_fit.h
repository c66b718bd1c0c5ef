// Fitting the window to the picture: whether to ask the window system for another client size, as
// stretching and the resize lock say, and not mistaking the window system's late answer for a
// user's drag. A pure decision over what the renderer remembers. Not here: asking (renderer.cpp),
// where the picture lies in the window (viewport.h).
#pragma once

#include <cstdint>

// What the renderer remembers between calls.
struct window_fit_state {
    int32_t last_frame_width = 640;
    int32_t last_frame_height = 400;
    float window_aspect_requested = 1.6f;
    // The size last asked of the window system and until when its answer is awaited.
    int32_t asked_width = 0;
    int32_t asked_height = 0;
    int64_t answer_due_ms = 0;
};
struct window_fit_input {
    int32_t frame_width, frame_height;
    int32_t window_width, window_height;      // current client size
    int32_t previous_width, previous_height;  // client size before the last resize
    int32_t stretch_mode;
    int32_t resize_locked;
    int64_t now_ms = 0;
};
struct window_size_request {
    bool resize = false;
    int32_t width = 0;
    int32_t height = 0;
};

// How long an asked-for size is awaited before the window's size counts as the user's again.
constexpr int64_t window_resize_answer_wait_ms = 500;

// The decision for one frame; a request is remembered as asked.
window_size_request window_fit(window_fit_state& state, const window_fit_input& in);
