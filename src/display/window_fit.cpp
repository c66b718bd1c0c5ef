#include "display/window_fit.h"

#include <cstdlib>

namespace {

window_size_request size_decision(window_fit_state& state, const window_fit_input& in) {
    window_size_request request;
    bool frame_changed = in.frame_width != state.last_frame_width || in.frame_height != state.last_frame_height;
    float frame_aspect = static_cast<float>(in.frame_width) / static_cast<float>(in.frame_height);
    state.last_frame_width = in.frame_width;
    state.last_frame_height = in.frame_height;
    if (in.stretch_mode != 0) {
        float window_aspect = static_cast<float>(in.window_width) / static_cast<float>(in.window_height);
        // The user has dragged the window to another shape: keep the frame's shape.
        if (window_aspect != state.window_aspect_requested && window_aspect != frame_aspect) {
            int32_t dw = std::abs(in.window_width - in.previous_width);
            int32_t dh = std::abs(in.window_height - in.previous_height);
            bool height_taken = dw == 0 || (dh != 0 && dh >= dw);
            if (height_taken) {
                request.height = in.window_height;
                request.width = static_cast<int32_t>(static_cast<float>(request.height) * frame_aspect);
            } else {
                request.width = in.window_width;
                request.height = static_cast<int32_t>(static_cast<float>(request.width) / frame_aspect);
            }
            request.resize = true;
            state.window_aspect_requested =
                static_cast<float>(request.width) / static_cast<float>(request.height > 0 ? request.height : 1);
            return request;
        }
    }
    bool size_differs = in.frame_width != in.window_width || in.frame_height != in.window_height;
    if (size_differs && (in.resize_locked != 0 || frame_changed)) {
        request.resize = true;
        request.width = in.frame_width;
        request.height = in.frame_height;
        // Remembered here too, or the next frame of another shape looks like a user's drag.
        state.window_aspect_requested = frame_aspect;
    }
    return request;
}

}  // namespace

window_size_request window_fit(window_fit_state& state, const window_fit_input& in) {
    // A minimised window has no size to fit.
    if (in.window_width <= 0 || in.window_height <= 0 || in.frame_width <= 0 || in.frame_height <= 0) return {};
    // Until the window system has answered a resize we asked for, the old size is no user's drag.
    bool answered = in.window_width == state.asked_width && in.window_height == state.asked_height;
    if (!answered && in.now_ms < state.answer_due_ms) return {};
    window_size_request request = size_decision(state, in);
    if (!request.resize || request.width <= 0 || request.height <= 0) return {};
    state.asked_width = request.width;
    state.asked_height = request.height;
    state.answer_due_ms = in.now_ms + window_resize_answer_wait_ms;
    return request;
}
