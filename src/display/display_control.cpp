#include "display/display_control.h"

#include <cmath>

#include "core/errors.h"
#include "display/frames.h"
#include "display/gl_state.h"
#include "display/window.h"

std::atomic<double> display_fps{60.0};
std::atomic<int32_t> display_fps_auto{0};
std::atomic<int32_t> fullscreen_mode{0};
std::atomic<int32_t> fullscreen_request{-1};
std::atomic<int32_t> fullscreen_smooth{0};
std::atomic<int32_t> display_layer_order[display_layer_count] = {1, 2, 4, 3};
std::atomic<int32_t> window_resize_locked{1};
std::atomic<int32_t> window_stretch_mode{0};
std::atomic<int32_t> window_resize_pending{0};
std::atomic<int32_t> window_resize_width{0};
std::atomic<int32_t> window_resize_height{0};
std::atomic<int32_t> window_width{640};
std::atomic<int32_t> window_height{400};
std::atomic<int32_t> window_previous_width{640};
std::atomic<int32_t> window_previous_height{400};
std::atomic<int32_t> window_reshaped{0};
std::atomic<int32_t> window_reshape_pending{1};

namespace {

constexpr int32_t start_layer_order[display_layer_count] = {1, 2, 4, 3};

void layer_order_store(const int32_t (&order)[display_layer_count]) {
    for (int i = 0; i < display_layer_count; ++i) display_layer_order[i].store(order[i]);
}

}  // namespace

int32_t display_layer_position(int32_t layer) {
    if (layer < 1 || layer > display_layer_count) return 0;
    return display_layer_order[layer - 1].load(std::memory_order_relaxed);
}

void display_fps_set(double value, int32_t form) {
    if (error_pending()) return;
    if (form == 1) {
        display_fps_auto.store(1);
        return;
    }
    // A rate that is not a number would later make the timer interval undefined.
    if (form != 2 || std::isnan(value) || value < 1.0) {
        error_raise(error_illegal_function_call);
        return;
    }
    display_fps.store(value > 200.0 ? 200.0 : value);
    display_fps_auto.store(0);
}

void fullscreen_set(int32_t kind, int32_t options) {
    static constexpr int32_t mode_of_kind[4] = {1, 0, 1, 2};
    fullscreen_smooth.store(options & 1);
    // A kind without a mode makes no request.
    if (kind >= 0 && kind <= 3 && mode_of_kind[kind] != fullscreen_mode.load()) {
        fullscreen_request.store(mode_of_kind[kind]);
    }
    frame_rebuild_forced.store(1);
}

void fullscreen_step() {
    int32_t m = fullscreen_get();
    if (m == 2 && fullscreen_smooth.load() == 1) {
        m = 0;
    } else if (fullscreen_smooth.load() == 0 && m != 0) {
        fullscreen_smooth.store(1);
    } else {
        m = m + 1;
        fullscreen_smooth.store(0);
    }
    if (m != fullscreen_mode.load()) fullscreen_request.store(m);
    frame_rebuild_forced.store(1);
}

int32_t fullscreen_get() {
    int32_t request = fullscreen_request.load();
    return request != -1 ? request : fullscreen_mode.load();
}

void display_order_set(int32_t a, int32_t b, int32_t c, int32_t d) {
    const int32_t layers[display_layer_count] = {a, b, c, d};
    bool named[display_layer_count + 1] = {};
    for (int32_t v : layers) {
        if (v < 0 || v > display_layer_count || (v != 0 && named[v])) {
            error_raise(error_illegal_function_call);
            return;
        }
        named[v] = true;
    }
    int32_t order[display_layer_count] = {};
    for (int i = 0; i < display_layer_count; ++i) {
        if (layers[i] != 0) order[layers[i] - 1] = i + 1;
    }
    layer_order_store(order);
    main_loop_wake();  // the renderer draws with the new order
}

void display_order_preset(int32_t kind) {
    switch (kind) {
        case 1: display_order_set(4, 1, 2, 3); break;
        case 2: display_order_set(1, 2, 4, 3); break;
        case 3: display_order_set(4, 0, 0, 0); break;
        default: break;
    }
}

void window_resize_mode_set(int32_t kind, int32_t stretch) {
    if (kind == 1) window_resize_locked.store(0);
    if (kind == 2) window_resize_locked.store(1);
    window_stretch_mode.store(stretch);
    main_loop_wake();
}

int32_t window_resize_event_get() {
    if (window_resize_locked.load() != 0) return 0;
    int32_t pending = -1;
    return window_resize_pending.compare_exchange_strong(pending, 0) ? -1 : 0;
}

int32_t window_resize_width_get() { return window_resize_width.load(); }
int32_t window_resize_height_get() { return window_resize_height.load(); }

void glut_reshape_callback(int width, int height) {
    window_resize_width.store(width);
    window_resize_height.store(height);
    window_resize_pending.store(-1);
    window_previous_width.store(window_width.load());
    window_previous_height.store(window_height.load());
    window_width.store(width);
    window_height.store(height);
    window_reshape_pending.store(0);
    window_reshaped.store(1);
    // The next drawing sets the projection for the new size.
    gl_projection_set(projection_none);
}

void display_control_reset() {
    display_fps.store(60.0);
    display_fps_auto.store(0);
    fullscreen_mode.store(0);
    fullscreen_request.store(-1);
    fullscreen_smooth.store(0);
    layer_order_store(start_layer_order);
    window_resize_locked.store(1);
    window_stretch_mode.store(0);
    window_resize_pending.store(0);
    window_resize_width.store(0);
    window_resize_height.store(0);
    window_width.store(640);
    window_height.store(400);
    window_previous_width.store(640);
    window_previous_height.store(400);
    window_reshaped.store(0);
    window_reshape_pending.store(1);
}
