#include "display/renderer.h"

#include <GL/glew.h>
#include <GL/freeglut.h>
#include <GL/glu.h>

#include <algorithm>
#include <cmath>
#include <cstdlib>
#include <mutex>
#include <utility>
#include <vector>

#include "core/alerts.h"
#include "core/statements.h"
#include "core/timing.h"
#include "display/display_control.h"
#include "display/frames.h"
#include "display/hardware_images.h"
#include "display/window.h"

std::atomic<int64_t> frame_number_shown{0};

namespace {

struct renderer_state {
    // GL caches, -1 = not yet set.
    int32_t texture = -1;
    hardware_img* texture_img = nullptr;
    int32_t target = -1;
    hardware_img* target_img = nullptr;
    int32_t projection = -1;
    int32_t blend = -1;
    int32_t depth = -1;
    int32_t cull = -1;

    // The vertex batch: 2-D integer vertices or 3-D float vertices, with texture coordinates.
    std::vector<int32_t> vertices_2d;
    std::vector<float> vertices_3d;
    std::vector<float> texcoords;

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
    // The size last asked of the window system and until when its answer is awaited.
    int32_t resize_asked_width = 0;
    int32_t resize_asked_height = 0;
    int64_t resize_wait_until_ms = 0;
    bool screen_commands_drawn = false;  // the last drawing showed hardware-layer commands
    int64_t settings_drawn = -1;         // display_settings() of the last drawing
};
renderer_state r;

// Other threads (mouse queries) read the viewport through a copy taken under this lock.
std::mutex viewport_lock;
viewport_record viewport_shared;

// Coordinates come from programs as any float: held within +-2^29 so that the pixel arithmetic
// after them cannot overflow, NaN taken as 0. Inside that range this is a plain truncation.
constexpr float pixel_limit = 536870912.0f;
int32_t pixel_of(float v) { return std::isnan(v) ? 0 : static_cast<int32_t>(std::clamp(v, -pixel_limit, pixel_limit)); }

int32_t round_even(float v) { return pixel_of(std::nearbyint(v)); }

hardware_img* image_at(int32_t id) {
    return id > 0 && hardware_img_list ? static_cast<hardware_img*>(list_get(hardware_img_list, id)) : nullptr;
}

int32_t stretch_mode() { return std::atomic_ref<int32_t>(window_stretch_mode).load(std::memory_order_relaxed); }
int32_t resize_locked() { return std::atomic_ref<int32_t>(window_resize_locked).load(std::memory_order_relaxed); }

// ---- drawing helpers -------------------------------------------------------------------------

void common_state_set() {
    glColor4f(1.0f, 1.0f, 1.0f, 1.0f);
    glDisable(GL_COLOR_MATERIAL);
    glDisable(GL_LIGHTING);
    glEnable(GL_BLEND);
    r.blend = -1;  // blending was switched on behind the cache's back
    glEnable(GL_TEXTURE_2D);
    glEnableClientState(GL_VERTEX_ARRAY);
    glEnableClientState(GL_TEXTURE_COORD_ARRAY);
    glCullFace(GL_BACK);
}

void projection_2d() {
    glMatrixMode(GL_PROJECTION);
    glLoadIdentity();
    glMatrixMode(GL_MODELVIEW);
    glLoadIdentity();
    if (r.target == 0) {
        int32_t w = r.viewport.window_width;
        int32_t h = r.viewport.window_height;
        glMatrixMode(GL_PROJECTION);
        glOrtho(0, w, 0, h, -1, 1);
        glMatrixMode(GL_MODELVIEW);
        // y grows downwards from the window's top.
        glScalef(1.0f, -1.0f, 1.0f);
        glTranslatef(0.0f, static_cast<float>(-h), 0.0f);
        glViewport(0, 0, w, h);
    } else if (r.target_img) {
        // Texture row 0 is the image's top row, so no flip.
        glMatrixMode(GL_PROJECTION);
        glOrtho(0, r.target_img->width, 0, r.target_img->height, -1, 1);
        glMatrixMode(GL_MODELVIEW);
        glViewport(0, 0, r.target_img->width, r.target_img->height);
    }
}

void projection_3d() {
    glMatrixMode(GL_PROJECTION);
    glLoadIdentity();
    if (r.target == 0) {
        const viewport_record& v = r.viewport;
        float h = static_cast<float>(v.window_height);
        float fov = v.width > v.height ? 90.0f * h / static_cast<float>(v.width)
                                       : 90.0f * h / static_cast<float>(v.height > 0 ? v.height : 1);
        glViewport(0, 0, v.window_width, v.window_height);
        gluPerspective(fov, static_cast<double>(v.window_width) / (v.window_height > 0 ? v.window_height : 1), 0.1,
                       10000.0);
    } else if (r.target_img) {
        int32_t w = r.target_img->width;
        int32_t h = r.target_img->height;
        glViewport(0, 0, w, h);
        glScalef(1.0f, -1.0f, 1.0f);
        float fov = w > h ? 90.0f * static_cast<float>(h) / static_cast<float>(w) : 90.0f;
        gluPerspective(fov, static_cast<double>(w) / (h > 0 ? h : 1), 0.1, 10000.0);
    }
    glMatrixMode(GL_MODELVIEW);
    glLoadIdentity();
}

void texture_size(const hardware_img* img, float& tw, float& th) {
    int32_t w = 0, h = 0;
    hardware_img_texture_size(*img, w, h);
    tw = static_cast<float>(w);
    th = static_cast<float>(h);
}

// The texture coordinate of a texel's centre.
float texel_centre(float texel, float texture_extent) { return (texel + 0.5f) / texture_extent; }

void vertex_2d(int32_t x, int32_t y, float s, float t) {
    r.vertices_2d.push_back(x);
    r.vertices_2d.push_back(y);
    r.texcoords.push_back(s);
    r.texcoords.push_back(t);
}

void vertex_3d(float x, float y, float z, float s, float t) {
    r.vertices_3d.push_back(x);
    r.vertices_3d.push_back(y);
    r.vertices_3d.push_back(z);
    r.texcoords.push_back(s);
    r.texcoords.push_back(t);
}

// A textured rectangle in target pixels (inclusive corners, already ordered); target and
// projection are set.
void textured_rect(int32_t x1, int32_t y1, int32_t x2, int32_t y2, int32_t source, int32_t sx1, int32_t sy1,
                   int32_t sx2, int32_t sy2, int32_t blend, int32_t smooth) {
    gl_texture_bind(source);
    hardware_img* img = r.texture_img;
    if (!img) return;
    float tw, th;
    texture_size(img, tw, th);
    gl_filter_set(smooth ? 1 : 0, smooth ? 1 : 0);
    gl_blend_set(blend);
    gl_depth_mode_set(0);
    gl_cull_set(0);
    gl_wrap_set(0);
    x2 += 1;
    y2 += 1;
    float s1 = sx1 <= sx2 ? (static_cast<float>(sx1) + 0.01f) / tw : (static_cast<float>(sx1) + 0.99f) / tw;
    float s2 = sx1 <= sx2 ? (static_cast<float>(sx2) + 0.99f) / tw : (static_cast<float>(sx2) + 0.01f) / tw;
    float t1 = sy1 <= sy2 ? (static_cast<float>(sy1) + 0.01f) / th : (static_cast<float>(sy1) + 0.99f) / th;
    float t2 = sy1 <= sy2 ? (static_cast<float>(sy2) + 0.99f) / th : (static_cast<float>(sy2) + 0.01f) / th;
    vertex_2d(x1, y1, s1, t1);
    vertex_2d(x2, y1, s2, t1);
    vertex_2d(x1, y2, s1, t2);
    vertex_2d(x1, y2, s1, t2);
    vertex_2d(x2, y1, s2, t1);
    vertex_2d(x2, y2, s2, t2);
}

// Filter kinds of triangles: 0 nearest, 1 linear, 2 linear minification with nearest
// magnification, 3 nearest minification with linear magnification.
void triangle_filter_set(int32_t kind) {
    static constexpr int32_t min_of[4] = {0, 1, 1, 0};
    static constexpr int32_t mag_of[4] = {0, 1, 0, 1};
    int32_t k = kind >= 0 && kind <= 3 ? kind : 0;
    gl_filter_set(min_of[k], mag_of[k]);
}

// Binds a triangle's source and sets the state 2-D and 3-D triangles share; false when the source
// is gone. tw and th become the texture's size.
bool triangle_source_set(int32_t source, int32_t filter, int32_t blend, float& tw, float& th) {
    gl_texture_bind(source);
    hardware_img* img = r.texture_img;
    if (!img) return false;
    texture_size(img, tw, th);
    triangle_filter_set(filter);
    gl_wrap_set(1);
    gl_blend_set(blend);
    return true;
}

// One axis of a 2-D triangle, widened so that the triangle also covers the last pixel column or
// row of its extent; on the screen it is mapped to window pixels with the viewport's scale and
// offset along that axis.
void triangle_axis_widen(float v[3], bool into_image, float scale, int32_t offset) {
    int32_t lo = pixel_of(v[0]);
    int32_t hi = lo;
    for (int i = 1; i < 3; ++i) {
        lo = std::min(lo, pixel_of(v[i]));
        hi = std::max(hi, pixel_of(v[i]));
    }
    float q = lo == hi ? 1.0f : static_cast<float>(hi - lo + 1) / static_cast<float>(hi - lo);
    for (int i = 0; i < 3; ++i) {
        float d = v[i] - static_cast<float>(lo);
        v[i] = into_image ? static_cast<float>(round_even(d * q + static_cast<float>(lo)))
                          : static_cast<float>(round_even(d * scale * q) +
                                               round_even(static_cast<float>(lo) * scale + static_cast<float>(offset)));
    }
}

// Commands aimed at an image need framebuffer objects; without them they are not drawn.
bool target_usable(int32_t destination) { return destination <= 0 || fbo_supported.load() != 0; }

void command_play(const render_command& c) {
    if (!render_command_images_current(c)) return;
    if (c.destination <= 0 && c.kind != render_free) r.screen_commands_drawn = true;
    auto t = pixel_of;
    switch (c.kind) {
        case render_free: free_hardware_img(c.source); break;
        case render_rect_copy:
            draw_textured_rect(t(c.dest_x1), t(c.dest_y1), t(c.dest_x2), t(c.dest_y2), c.source, c.destination,
                               t(c.source_x1), t(c.source_y1), t(c.source_x2), t(c.source_y2), c.blend, c.smooth);
            break;
        case render_triangle_2d:
            draw_textured_triangle_2d(c.dest_x1, c.dest_y1, c.dest_x2, c.dest_y2, c.dest_x3, c.dest_y3, c.source,
                                      c.destination, c.source_x1, c.source_y1, c.source_x2, c.source_y2, c.source_x3,
                                      c.source_y3, c.blend, c.smooth);
            break;
        case render_triangle_3d:
            draw_textured_triangle_3d(c.dest_x1, c.dest_y1, c.dest_z1, c.dest_x2, c.dest_y2, c.dest_z2, c.dest_x3,
                                      c.dest_y3, c.dest_z3, c.source, c.destination, c.source_x1, c.source_y1,
                                      c.source_x2, c.source_y2, c.source_x3, c.source_y3, c.blend, c.smooth, c.cull,
                                      c.depth);
            break;
        case render_depth_clear: depth_buffer_clear(c.destination); break;
        default: break;
    }
}

// ---- one renderer call -----------------------------------------------------------------------

// The newest ready slot above the shown one becomes shown (older ready or shown slots are freed);
// else the shown slot stays. Null when there is neither.
software_frame* slot_choose(bool& newly_shown) {
    software_frame* shown = nullptr;
    int64_t shown_number = 0;
    for (auto& slot : software_frames) {
        if (slot.state.load() == frame_slot_shown) {
            shown = &slot;
            shown_number = slot.number.load();
        }
    }
    software_frame* best = nullptr;
    int64_t best_number = shown_number;
    for (auto& slot : software_frames) {
        if (slot.state.load() == frame_slot_ready && slot.number.load() > best_number) {
            best = &slot;
            best_number = slot.number.load();
        }
    }
    newly_shown = false;
    // The builder may take back a ready slot at the same moment; then the shown one stays.
    if (!best || !software_frame_claim(*best, frame_slot_ready, frame_slot_shown)) return shown;
    newly_shown = true;
    for (auto& slot : software_frames) {
        if (&slot == best || slot.number.load() >= best_number) continue;
        int32_t state = slot.state.load();
        if (state == frame_slot_ready || state == frame_slot_shown) software_frame_claim(slot, state, frame_slot_free);
    }
    return best;
}

// The settings a drawing depends on besides the frame: layer order, stretching, full screen.
int64_t display_settings() {
    int64_t key = 0;
    for (int32_t layer = 1; layer <= display_layer_count; ++layer) key = key * 8 + display_layer_position(layer);
    key = key * 8 + stretch_mode();
    key = key * 8 + fullscreen_mode.load();
    return key * 2 + (fullscreen_smooth.load() & 1);
}

void window_resize_to(int32_t w, int32_t h) {
    window_reshape_pending.store(1);
    window_client_size_set(w, h);
    glutPostRedisplay();
}

constexpr int64_t resize_answer_wait_ms = 500;

void window_fitting(const software_frame& slot) {
    if (fullscreen_mode.load() != 0 || fullscreen_request.load() != -1) return;
    window_fit_input in{slot.width,
                        slot.height,
                        window_width.load(),
                        window_height.load(),
                        window_previous_width.load(),
                        window_previous_height.load(),
                        stretch_mode(),
                        resize_locked()};
    // A minimised window has no size to fit.
    if (in.window_width <= 0 || in.window_height <= 0 || in.frame_width <= 0 || in.frame_height <= 0) return;
    // Until the window system has answered a resize we asked for, the old size is no user's drag.
    bool answered = in.window_width == r.resize_asked_width && in.window_height == r.resize_asked_height;
    if (!answered && clock_ms() < r.resize_wait_until_ms) return;
    window_size_request request = window_fit(r.fit, in);
    if (request.resize && request.width > 0 && request.height > 0) {
        r.resize_asked_width = request.width;
        r.resize_asked_height = request.height;
        r.resize_wait_until_ms = clock_ms() + resize_answer_wait_ms;
        window_resize_to(request.width, request.height);
    }
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
        r.frame_image = hardware_img_new(slot.width, slot.height, slot.pixels, hardware_img_internal);
        r.frame_image_number = number;
    }
    if (!image_at(r.frame_image)) {
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
    if (r.bar_image == 0 || !image_at(r.bar_image)) {
        uint32_t black = 0;
        r.bar_image = hardware_img_new(1, 1, &black, hardware_img_internal);
    }
    gl_render_target_set(0);
    gl_projection_set(1);
    for (int i = 0; i < n; ++i)
        textured_rect(bars[i].left, bars[i].top, bars[i].right, bars[i].bottom, r.bar_image, 0, 0, 0, 0, 0, 0);
    vertex_batch_flush();
}

void window_clear() {
    gl_render_target_set(0);
    glDepthMask(GL_TRUE);  // a depth mode without writes would keep the depth buffer from clearing
    r.depth = -1;
    glClearColor(0.0f, 0.0f, 0.0f, 0.0f);
    glClear(GL_COLOR_BUFFER_BIT | GL_DEPTH_BUFFER_BIT);
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
            render_queue_play(walk, layer_0 == p ? render_layer_0 : render_layer_1, command_play);
            vertex_batch_flush();
            queue_played = true;
        }
    }
    // With both screen layers hidden the commands aimed at images and the frees still follow the
    // frames, so the queue keeps being pruned instead of growing.
    if (!queue_played) {
        render_queue_play(walk, render_no_layer, command_play);
        vertex_batch_flush();
    }
    if (r.viewport.letterbox != 0) letterbox_bars_draw();
}

void frame_render() {
    bool newly_shown = false;
    software_frame* slot = slot_choose(newly_shown);
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
    if (reshaped) gl_projection_set(0);
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

// ---- viewport arithmetic ---------------------------------------------------------------------

bool viewport_of(int32_t frame_width, int32_t frame_height, int32_t window_width, int32_t window_height,
                 int32_t fullscreen_mode, int32_t fullscreen_smooth, int32_t stretch_mode, viewport_record& out) {
    if (frame_width <= 0 || frame_height <= 0 || window_width <= 0 || window_height <= 0) return false;
    bool stretch = false;
    bool keep_aspect = false;
    int32_t smooth = 0;
    if (fullscreen_mode == 1 || fullscreen_mode == 2) {
        stretch = true;
        keep_aspect = fullscreen_mode == 2;
        smooth = fullscreen_smooth;
    } else if (stretch_mode == 1 || stretch_mode == 2) {
        stretch = true;
        smooth = stretch_mode == 2;
    }
    viewport_record v;
    v.frame_width = frame_width;
    v.frame_height = frame_height;
    v.window_width = window_width;
    v.window_height = window_height;
    v.letterbox = 0;
    v.smooth = smooth;
    float frame_aspect = static_cast<float>(frame_width) / static_cast<float>(frame_height);
    float window_aspect = static_cast<float>(window_width) / static_cast<float>(window_height);
    v.x1 = 0;
    v.y1 = 0;
    if ((frame_width == window_width && frame_height == window_height) || !stretch) {
        v.x2 = frame_width - 1;
        v.y2 = frame_height - 1;
        if (frame_width == window_width && frame_height == window_height) v.smooth = 0;
    } else if (!keep_aspect || window_aspect == frame_aspect) {
        v.x2 = window_width - 1;
        v.y2 = window_height - 1;
    } else if (window_aspect > frame_aspect) {
        int32_t w = static_cast<int32_t>(static_cast<float>(window_height) * frame_aspect);
        v.x1 = window_width / 2 - w / 2;
        v.x2 = v.x1 + w - 1;
        v.y2 = window_height - 1;
        v.letterbox = 1;
    } else {
        int32_t h = static_cast<int32_t>(static_cast<float>(window_width) / frame_aspect);
        v.y1 = window_height / 2 - h / 2;
        v.y2 = v.y1 + h - 1;
        v.x2 = window_width - 1;
        v.letterbox = 2;
    }
    v.width = v.x2 - v.x1 + 1;
    v.height = v.y2 - v.y1 + 1;
    v.scale_x = static_cast<float>(v.width) / static_cast<float>(frame_width);
    v.scale_y = static_cast<float>(v.height) / static_cast<float>(frame_height);
    out = v;
    return true;
}

int32_t viewport_map_x(const viewport_record& v, float x) { return round_even(x * v.scale_x) + v.x1; }
int32_t viewport_map_y(const viewport_record& v, float y) { return round_even(y * v.scale_y) + v.y1; }
int32_t viewport_map_x_edge(const viewport_record& v, float x) { return round_even((x + 1) * v.scale_x - 1) + v.x1; }
int32_t viewport_map_y_edge(const viewport_record& v, float y) { return round_even((y + 1) * v.scale_y - 1) + v.y1; }

window_rect viewport_map_rect(const viewport_record& v, float x1, float y1, float x2, float y2) {
    window_rect out;
    out.left = round_even(x1 * v.scale_x) + v.x1;
    out.top = round_even(y1 * v.scale_y) + v.y1;
    int32_t width = pixel_of((std::fabs(x2 - x1) + 1) * v.scale_x + 0.99f);
    int32_t height = pixel_of((std::fabs(y2 - y1) + 1) * v.scale_y + 0.99f);
    out.right = out.left + width - 1;
    out.bottom = out.top + height - 1;
    return out;
}

int letterbox_bars(const viewport_record& v, window_rect bars[2]) {
    // In window pixels, so no bar reaches into the picture's first or last column or row.
    int n = 0;
    if (v.letterbox == 1) {
        if (v.x1 > 0) bars[n++] = {0, 0, v.x1 - 1, v.window_height - 1};
        if (v.x2 < v.window_width - 1) bars[n++] = {v.x2 + 1, 0, v.window_width - 1, v.window_height - 1};
    } else if (v.letterbox == 2) {
        if (v.y1 > 0) bars[n++] = {0, 0, v.window_width - 1, v.y1 - 1};
        if (v.y2 < v.window_height - 1) bars[n++] = {0, v.y2 + 1, v.window_width - 1, v.window_height - 1};
    }
    return n;
}

viewport_record viewport_get() {
    std::lock_guard<std::mutex> guard(viewport_lock);
    return viewport_shared;
}

void viewport_compute() {
    viewport_record v;
    if (!viewport_of(r.frame_width, r.frame_height, window_width.load(), window_height.load(), fullscreen_mode.load(),
                     fullscreen_smooth.load(), stretch_mode(), v))
        return;
    r.viewport = v;
    std::lock_guard<std::mutex> guard(viewport_lock);
    viewport_shared = v;
}

window_size_request window_fit(window_fit_state& state, const window_fit_input& in) {
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

// ---- GL state ----------------------------------------------------------------------------------

void renderer_state_reset() {
    r = renderer_state{};
    frame_number_shown.store(0);
    std::lock_guard<std::mutex> guard(viewport_lock);
    viewport_shared = viewport_record{};
}

void vertex_batch_flush() {
    if (!r.vertices_2d.empty()) {
        glVertexPointer(2, GL_INT, 8, r.vertices_2d.data());
        glTexCoordPointer(2, GL_FLOAT, 8, r.texcoords.data());
        glDrawArrays(GL_TRIANGLES, 0, static_cast<GLsizei>(r.vertices_2d.size() / 2));
    } else if (!r.vertices_3d.empty()) {
        glVertexPointer(3, GL_FLOAT, 12, r.vertices_3d.data());
        glTexCoordPointer(2, GL_FLOAT, 8, r.texcoords.data());
        glDrawArrays(GL_TRIANGLES, 0, static_cast<GLsizei>(r.vertices_3d.size() / 3));
    }
    r.vertices_2d.clear();
    r.vertices_3d.clear();
    r.texcoords.clear();
}

void gl_filter_set(int32_t min_filter, int32_t mag_filter) {
    hardware_img* img = r.texture_img;
    if (!img) return;
    // A mipmapped texture has no exact nearest form; it is filtered linearly.
    if (img->upload_mode == 2) {
        min_filter = 1;
        mag_filter = 1;
    }
    if (img->min_filter == min_filter && img->mag_filter == mag_filter) return;
    vertex_batch_flush();
    glTexParameteri(GL_TEXTURE_2D, GL_TEXTURE_MIN_FILTER, min_filter ? GL_LINEAR : GL_NEAREST);
    glTexParameteri(GL_TEXTURE_2D, GL_TEXTURE_MAG_FILTER, mag_filter ? GL_LINEAR : GL_NEAREST);
    img->min_filter = min_filter;
    img->mag_filter = mag_filter;
}

void gl_wrap_set(int32_t mode) {
    hardware_img* img = r.texture_img;
    if (!img || img->wrap_mode == mode) return;
    vertex_batch_flush();
    GLint wrap = mode ? GL_REPEAT : GL_CLAMP_TO_EDGE;
    glTexParameteri(GL_TEXTURE_2D, GL_TEXTURE_WRAP_S, wrap);
    glTexParameteri(GL_TEXTURE_2D, GL_TEXTURE_WRAP_T, wrap);
    img->wrap_mode = mode;
}

void gl_blend_set(int32_t on) {
    if (r.blend == on) return;
    vertex_batch_flush();
    if (on) {
        glEnable(GL_BLEND);
        if (fbo_supported.load())
            glBlendFuncSeparateEXT(GL_SRC_ALPHA, GL_ONE_MINUS_SRC_ALPHA, GL_ONE, GL_ONE);
        else
            glBlendFunc(GL_SRC_ALPHA, GL_ONE_MINUS_SRC_ALPHA);
    } else {
        glDisable(GL_BLEND);
    }
    r.blend = on;
}

void gl_depth_mode_set(int32_t mode) {
    if (r.depth == mode) return;
    vertex_batch_flush();
    if (mode == 0) {
        glDisable(GL_DEPTH_TEST);
        glDisable(GL_ALPHA_TEST);
    } else {
        glEnable(GL_DEPTH_TEST);
        glDepthMask(mode == 1 ? GL_TRUE : GL_FALSE);
        if (mode == 1) {
            glEnable(GL_ALPHA_TEST);
            glAlphaFunc(GL_GREATER, 0.001f);
        } else {
            glDisable(GL_ALPHA_TEST);
        }
    }
    r.depth = mode;
}

void gl_cull_set(int32_t mode) {
    if (r.cull == mode) return;
    vertex_batch_flush();
    if (mode == 0) {
        glDisable(GL_CULL_FACE);
    } else {
        glFrontFace(mode == 1 ? GL_CW : GL_CCW);
        glEnable(GL_CULL_FACE);
    }
    r.cull = mode;
}

void gl_projection_set(int32_t kind) {
    if (r.projection == kind) return;
    vertex_batch_flush();
    if (kind == 1 || kind == 2) {
        if (r.projection != 1 && r.projection != 2) common_state_set();
        if (kind == 1)
            projection_2d();
        else
            projection_3d();
    }
    r.projection = kind;
}

void gl_texture_bind(int32_t id) {
    if (id == -1) {
        r.texture = -1;
        r.texture_img = nullptr;
        return;
    }
    if (r.texture == id) return;
    vertex_batch_flush();
    hardware_img* img = image_at(id);
    if (!img) {
        r.texture = -1;
        r.texture_img = nullptr;
        return;
    }
    if (img->texture == 0) hardware_img_upload(id);
    glBindTexture(GL_TEXTURE_2D, img->texture);
    r.texture = id;
    r.texture_img = img;
    if (!fbo_supported.load()) {
        img->min_filter = -1;
        img->mag_filter = -1;
    }
}

void gl_render_target_set(int32_t target) {
    if (target == -1) {
        r.target = -1;
        r.target_img = nullptr;
        r.projection = 0;
        return;
    }
    if (r.target == target) return;
    vertex_batch_flush();
    if (target == 0) {
        if (fbo_supported.load()) glBindFramebufferEXT(GL_FRAMEBUFFER_EXT, 0);
        r.target_img = nullptr;
    } else {
        hardware_img* img = image_at(target);
        if (!img) return;
        if (img->texture == 0) hardware_img_upload(target);
        if (img->framebuffer == 0) {
            glGenFramebuffersEXT(1, &img->framebuffer);
            glBindFramebufferEXT(GL_FRAMEBUFFER_EXT, img->framebuffer);
            glFramebufferTexture2DEXT(GL_FRAMEBUFFER_EXT, GL_COLOR_ATTACHMENT0_EXT, GL_TEXTURE_2D, img->texture, 0);
        } else {
            glBindFramebufferEXT(GL_FRAMEBUFFER_EXT, img->framebuffer);
        }
        r.target_img = img;
    }
    r.target = target;
    r.projection = 0;
}

void gl_caches_forget_image(int32_t id) {
    if (r.texture == id) gl_texture_bind(-1);
    if (r.target == id) {
        vertex_batch_flush();
        gl_render_target_set(-1);
    }
}

// ---- drawing ---------------------------------------------------------------------------------

void draw_textured_rect(int32_t dx1, int32_t dy1, int32_t dx2, int32_t dy2, int32_t source, int32_t destination,
                        int32_t sx1, int32_t sy1, int32_t sx2, int32_t sy2, int32_t blend, int32_t smooth) {
    if (destination < 0) destination = 0;
    if (!target_usable(destination)) return;
    // Ordered corners with the source swapped alongside keep a mirrored picture mirrored.
    if (dx2 < dx1) {
        std::swap(dx1, dx2);
        std::swap(sx1, sx2);
    }
    if (dy2 < dy1) {
        std::swap(dy1, dy2);
        std::swap(sy1, sy2);
    }
    gl_render_target_set(destination);
    gl_projection_set(1);
    if (destination == 0) {
        window_rect w = viewport_map_rect(r.viewport, static_cast<float>(dx1), static_cast<float>(dy1),
                                          static_cast<float>(dx2), static_cast<float>(dy2));
        dx1 = w.left;
        dy1 = w.top;
        dx2 = w.right;
        dy2 = w.bottom;
    }
    textured_rect(dx1, dy1, dx2, dy2, source, sx1, sy1, sx2, sy2, blend, smooth);
}

void draw_textured_triangle_2d(float dx1, float dy1, float dx2, float dy2, float dx3, float dy3, int32_t source,
                               int32_t destination, float sx1, float sy1, float sx2, float sy2, float sx3, float sy3,
                               int32_t blend, int32_t filter) {
    if (destination < 0) destination = 0;
    if (!target_usable(destination)) return;
    gl_render_target_set(destination);
    gl_projection_set(1);
    float xs[3] = {dx1, dx2, dx3};
    float ys[3] = {dy1, dy2, dy3};
    triangle_axis_widen(xs, destination > 0, r.viewport.scale_x, r.viewport.x1);
    triangle_axis_widen(ys, destination > 0, r.viewport.scale_y, r.viewport.y1);
    float tw, th;
    if (!triangle_source_set(source, filter, blend, tw, th)) return;
    gl_depth_mode_set(0);
    gl_cull_set(0);
    const float ss[3] = {sx1, sx2, sx3};
    const float ts[3] = {sy1, sy2, sy3};
    for (int i = 0; i < 3; ++i)
        vertex_2d(static_cast<int32_t>(xs[i]), static_cast<int32_t>(ys[i]), texel_centre(ss[i], tw),
                  texel_centre(ts[i], th));
}

void draw_textured_triangle_3d(float dx1, float dy1, float dz1, float dx2, float dy2, float dz2, float dx3, float dy3,
                               float dz3, int32_t source, int32_t destination, float sx1, float sy1, float sx2,
                               float sy2, float sx3, float sy3, int32_t blend, int32_t filter, int32_t cull,
                               int32_t depth_mode) {
    if (destination < 0) destination = 0;
    if (!target_usable(destination)) return;
    gl_render_target_set(destination);
    gl_projection_set(2);
    if (destination > 0 && r.target_img) hardware_img_depth_attach(r.target_img);
    float tw, th;
    if (!triangle_source_set(source, filter, blend, tw, th)) return;
    gl_depth_mode_set(depth_mode);
    // The image projection is mirrored vertically, which turns the faces' sense.
    if (destination > 0 && (cull == 1 || cull == 2)) cull = 3 - cull;
    gl_cull_set(cull);
    vertex_3d(dx1, dy1, dz1, texel_centre(sx1, tw), texel_centre(sy1, th));
    vertex_3d(dx2, dy2, dz2, texel_centre(sx2, tw), texel_centre(sy2, th));
    vertex_3d(dx3, dy3, dz3, texel_centre(sx3, tw), texel_centre(sy3, th));
}

void depth_buffer_clear(int32_t target) {
    vertex_batch_flush();
    if (target < 0) target = 0;
    if (!target_usable(target)) return;
    gl_render_target_set(target);
    if (target > 0 && r.target_img) hardware_img_depth_attach(r.target_img);
    glDepthMask(GL_TRUE);
    r.depth = -1;
    glClear(GL_DEPTH_BUFFER_BIT);
}

// ---- callbacks -------------------------------------------------------------------------------

void glut_display_callback() {
    if (r.busy) return;
    r.busy = true;
    frame_render();
    r.busy = false;
}

void glut_frame_timer_callback(int) {
    glutPostRedisplay();
    sleep_ms(4);
    double fps = display_fps.load();
    // A rate outside 1-200 (never stored by the setter) must not make the interval undefined.
    if (!(fps >= 1.0 && fps <= 200.0)) fps = 60.0;
    int32_t interval = static_cast<int32_t>(1000.0 / fps) - 4;
    glutTimerFunc(static_cast<unsigned>(interval > 0 ? interval : 1), glut_frame_timer_callback, 0);
}

void redisplay_timer(int interval) {
    glutPostRedisplay();
    glutTimerFunc(static_cast<unsigned>(interval), redisplay_timer, interval);
}
