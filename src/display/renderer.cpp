#include "display/renderer.h"

#include <GL/glew.h>
#include <GL/freeglut.h>

#include "core/alerts.h"
#include "core/statements.h"
#include "core/timing.h"
#include "display/display_control.h"
#include "display/frames.h"
#include "display/gl_draw.h"
#include "display/gl_state.h"
#include "display/hardware_textures.h"
#include "display/viewport.h"
#include "display/window.h"
#include "display/window_fit.h"
#include "screen/hardware_images.h"

std::atomic<int64_t> frame_number_shown{0};

namespace {
std::atomic<int64_t> frame_timer_due{INT64_MAX};  // not armed before the window exists
}

namespace {

struct renderer_state {
    window_fit_state fit;
    int32_t frame_width = 640;
    int32_t frame_height = 400;
    viewport_record viewport;
    // The hardware image of the shown frame and the frame number it was made from.
    int32_t frame_image = 0;
    int64_t frame_image_number = -1;
    int32_t bar_image = 0;
    bool busy = false;
    bool swap_skipped = false;  // a pause kept the last picture; draw again once it ends
    // The first drawing after a reshape may still go to a buffer of the old size (the GL drawable
    // takes the new size lazily), so the picture is drawn once more after it.
    bool redraw_after_reshape = false;
    bool screen_commands_drawn = false;  // the last drawing showed hardware-layer commands
    int64_t settings_drawn = -1;         // display_settings() of the last drawing
};
renderer_state r;

// The settings a drawing depends on besides the frame: layer order, stretching, full screen.
int64_t display_settings() {
    int64_t key = 0;
    for (int32_t layer = 1; layer <= display_layer_count; ++layer) key = key * 8 + display_layer_position(layer);
    key = key * 8 + window_stretch_mode.load();
    key = key * 8 + fullscreen_mode.load();
    return key * 2 + (fullscreen_smooth.load() & 1);
}

void window_resize_to(int32_t w, int32_t h) {
    window_reshape_pending.store(1);
    window_client_size_set(w, h);
    glutPostRedisplay();
}

void window_fitting(const software_frame& slot) {
    if (fullscreen_mode.load() != 0 || fullscreen_request.load() != -1) return;
    window_fit_input in{slot.width,
                        slot.height,
                        window_width.load(),
                        window_height.load(),
                        window_previous_width.load(),
                        window_previous_height.load(),
                        window_stretch_mode.load(),
                        window_resize_locked.load(),
                        clock_ms()};
    window_size_request request = window_fit(r.fit, in);
    if (request.resize) window_resize_to(request.width, request.height);
}

void viewport_compute() {
    viewport_record v;
    if (!viewport_of(r.frame_width, r.frame_height, window_width.load(), window_height.load(), fullscreen_mode.load(),
                     fullscreen_smooth.load(), window_stretch_mode.load(), v))
        return;
    r.viewport = v;
    gl_screen_viewport_set(v);
    viewport_publish(v);
}

void fullscreen_request_apply() {
    int32_t request = fullscreen_request.load();
    if (window_reshape_pending.load() != 0 || request == -1) return;
    if (request == 0) {
        if (fullscreen_mode.load() != 0) {
            window_fullscreen_leave();
            window_resize_to(r.frame_width, r.frame_height);
        }
        fullscreen_mode.store(0);
    } else if (request == 1 || request == 2) {
        if (fullscreen_mode.load() == 0) window_fullscreen_enter();
        fullscreen_mode.store(request);
    }
    // A request made meanwhile stays for the next call.
    fullscreen_request.compare_exchange_strong(request, -1);
}

void software_layer_draw(const software_frame& slot, int32_t position) {
    int64_t number = slot.number.load();
    // Remade whenever the shown frame differs from the one the image holds, also when frames
    // were shown while this layer was hidden.
    if (r.frame_image == 0 || r.frame_image_number != number) {
        if (r.frame_image != 0) free_hardware_img(r.frame_image);
        r.frame_image = hardware_img_new_uploaded(slot.width, slot.height, slot.pixels, hardware_img_internal);
        r.frame_image_number = number;
    }
    if (!hardware_img_at(r.frame_image)) {
        alert_text("Invalid software_screen_hardware_frame!");
        return;
    }
    draw_textured_rect(0, 0, r.frame_width - 1, r.frame_height - 1, r.frame_image, 0, 0, 0, slot.width - 1,
                       slot.height - 1, position > 1 ? 1 : 0, r.viewport.smooth);
    vertex_batch_flush();
}

void letterbox_bars_draw() {
    window_rect bars[2];
    int n = letterbox_bars(r.viewport, bars);
    if (n == 0) return;
    if (r.bar_image == 0 || !hardware_img_at(r.bar_image)) {
        uint32_t black = 0;
        r.bar_image = hardware_img_new_uploaded(1, 1, &black, hardware_img_internal);
    }
    for (int i = 0; i < n; ++i) draw_window_rect(bars[i], r.bar_image);
    vertex_batch_flush();
}

void layers_draw(const software_frame& slot, int64_t ready) {
    window_clear();
    r.screen_commands_drawn = false;
    r.settings_drawn = display_settings();
    render_queue_walk walk;
    walk.frame = ready;
    bool queue_played = false;
    int32_t software = display_layer_position(1);
    int32_t layer_0 = display_layer_position(2);
    int32_t layer_1 = display_layer_position(3);
    for (int32_t p = 1; p <= 4; ++p) {
        if (software == p) software_layer_draw(slot, p);
        if (layer_0 == p || layer_1 == p) {
            r.screen_commands_drawn |= render_layer_play(walk, layer_0 == p ? render_layer_0 : render_layer_1);
            queue_played = true;
        }
    }
    // With both screen layers hidden the commands aimed at images and the frees still follow the
    // frames, so the queue keeps being pruned instead of growing.
    if (!queue_played) r.screen_commands_drawn |= render_layer_play(walk, render_no_layer);
    if (r.viewport.letterbox != 0) letterbox_bars_draw();
}

void frame_render() {
    bool newly_shown = false;
    software_frame* slot = software_frame_show_newest(newly_shown);
    if (!slot) return;
    int64_t ready = frame_number_ready.load();
    bool paused = (pause_flag.load() & 1) != 0;
    bool reshaped = window_reshaped.exchange(0) != 0;
    bool same_picture = !newly_shown && fullscreen_request.load() == -1 && !reshaped && !r.redraw_after_reshape &&
                        !(r.swap_skipped && !paused) && display_settings() == r.settings_drawn;
    if (same_picture && ready == frame_number_shown.load()) return;
    // A newer frame number alone, with nothing to play and nothing played last time, would draw
    // the same picture again.
    if (same_picture && !r.screen_commands_drawn && render_queue_idle(ready)) {
        frame_number_shown.store(ready);
        return;
    }
    r.frame_width = slot->width;
    r.frame_height = slot->height;
    if (reshaped) gl_projection_set(projection_none);
    r.redraw_after_reshape = reshaped;
    window_fitting(*slot);
    fullscreen_request_apply();
    viewport_compute();
    layers_draw(*slot, ready);
    // The frame number read at the start: commands of frames made meanwhile are played next time.
    frame_number_shown.store(ready);
    r.swap_skipped = paused;
    if (!paused) glutSwapBuffers();
    // Frees asked for are not left waiting for the program's next command.
    render_queue_prune();
}

}  // namespace

void renderer_state_reset() {
    r = renderer_state{};
    gl_state_reset();
    viewport_reset();
    frame_number_shown.store(0);
}

void glut_display_callback() {
    if (r.busy) return;
    r.busy = true;
    frame_render();
    r.busy = false;
}

bool renderer_has_work() {
    return frame_number_ready.load() != frame_number_shown.load() || window_reshaped.load() != 0 ||
           window_reshape_pending.load() != 0 || fullscreen_request.load() != -1 || r.redraw_after_reshape ||
           (r.swap_skipped && !pause_active()) || display_settings() != r.settings_drawn;
}

void frame_timer_arm(int64_t after_ms) { frame_timer_due.store(clock_ms() + after_ms); }

int64_t frame_timer_due_ms() { return frame_timer_due.load(); }

void glut_frame_timer_callback(int) {
    glutPostRedisplay();
    double fps = display_fps.load();
    // A rate outside 1-200 (never stored by the setter) must not make the interval undefined.
    if (!(fps >= 1.0 && fps <= 200.0)) fps = 60.0;
    // The period of a 4 ms pause plus trunc(1000 / fps) - 4 ms (at least 1), without the pause
    // holding the main thread.
    constexpr int32_t pause_ms = 4;
    int32_t interval = static_cast<int32_t>(1000.0 / fps) - pause_ms;
    frame_timer_arm(pause_ms + (interval > 0 ? interval : 1));
}

void redisplay_timer(int interval) {
    glutPostRedisplay();
    glutTimerFunc(static_cast<unsigned>(interval), redisplay_timer, interval);
}
