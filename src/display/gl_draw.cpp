#include "display/gl_draw.h"

#include <GL/glew.h>

#include <algorithm>
#include <utility>

#include "display/gl_state.h"
#include "display/hardware_textures.h"
#include "display/window.h"
#include "screen/hardware_images.h"

namespace {

// Set when a played command drew into the window.
bool screen_commands_drawn = false;

void texture_size(const hardware_img* img, float& tw, float& th) {
    int32_t w = 0, h = 0;
    hardware_img_texture_size(*img, w, h);
    tw = static_cast<float>(w);
    th = static_cast<float>(h);
}

// The texture coordinate of a texel's centre.
float texel_centre(float texel, float texture_extent) { return (texel + 0.5f) / texture_extent; }

// A textured rectangle in target pixels (inclusive corners, already ordered); target and
// projection are set.
void textured_rect(int32_t x1, int32_t y1, int32_t x2, int32_t y2, int32_t source, int32_t sx1, int32_t sy1,
                   int32_t sx2, int32_t sy2, int32_t blend, int32_t smooth) {
    gl_texture_bind(source);
    hardware_img* img = gl_texture_image();
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
    vertex_batch_add_2d(x1, y1, s1, t1);
    vertex_batch_add_2d(x2, y1, s2, t1);
    vertex_batch_add_2d(x1, y2, s1, t2);
    vertex_batch_add_2d(x1, y2, s1, t2);
    vertex_batch_add_2d(x2, y1, s2, t1);
    vertex_batch_add_2d(x2, y2, s2, t2);
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
    hardware_img* img = gl_texture_image();
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
        v[i] = into_image ? static_cast<float>(pixel_rounded(d * q + static_cast<float>(lo)))
                          : static_cast<float>(pixel_rounded(d * scale * q) +
                                               pixel_rounded(static_cast<float>(lo) * scale + static_cast<float>(offset)));
    }
}

// Commands aimed at an image need framebuffer objects; without them they are not drawn.
bool target_usable(int32_t destination) { return destination <= 0 || fbo_supported.load() != 0; }

void command_play(const render_command& c) {
    if (!render_command_images_current(c)) return;
    if (c.destination <= 0 && c.kind != render_free) screen_commands_drawn = true;
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

}  // namespace

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
    gl_projection_set(projection_2d);
    if (destination == 0) {
        window_rect w = viewport_map_rect(gl_screen_viewport(), static_cast<float>(dx1), static_cast<float>(dy1),
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
    gl_projection_set(projection_2d);
    float xs[3] = {dx1, dx2, dx3};
    float ys[3] = {dy1, dy2, dy3};
    triangle_axis_widen(xs, destination > 0, gl_screen_viewport().scale_x, gl_screen_viewport().x1);
    triangle_axis_widen(ys, destination > 0, gl_screen_viewport().scale_y, gl_screen_viewport().y1);
    float tw, th;
    if (!triangle_source_set(source, filter, blend, tw, th)) return;
    gl_depth_mode_set(0);
    gl_cull_set(0);
    const float ss[3] = {sx1, sx2, sx3};
    const float ts[3] = {sy1, sy2, sy3};
    for (int i = 0; i < 3; ++i)
        vertex_batch_add_2d(static_cast<int32_t>(xs[i]), static_cast<int32_t>(ys[i]), texel_centre(ss[i], tw),
                  texel_centre(ts[i], th));
}

void draw_textured_triangle_3d(float dx1, float dy1, float dz1, float dx2, float dy2, float dz2, float dx3, float dy3,
                               float dz3, int32_t source, int32_t destination, float sx1, float sy1, float sx2,
                               float sy2, float sx3, float sy3, int32_t blend, int32_t filter, int32_t cull,
                               int32_t depth_mode) {
    if (destination < 0) destination = 0;
    if (!target_usable(destination)) return;
    gl_render_target_set(destination);
    gl_projection_set(projection_3d);
    if (destination > 0 && gl_target_image()) hardware_img_depth_attach(gl_target_image());
    float tw, th;
    if (!triangle_source_set(source, filter, blend, tw, th)) return;
    gl_depth_mode_set(depth_mode);
    // The image projection is mirrored vertically, which turns the faces' sense.
    if (destination > 0 && (cull == 1 || cull == 2)) cull = 3 - cull;
    gl_cull_set(cull);
    vertex_batch_add_3d(dx1, dy1, dz1, texel_centre(sx1, tw), texel_centre(sy1, th));
    vertex_batch_add_3d(dx2, dy2, dz2, texel_centre(sx2, tw), texel_centre(sy2, th));
    vertex_batch_add_3d(dx3, dy3, dz3, texel_centre(sx3, tw), texel_centre(sy3, th));
}

void depth_buffer_clear(int32_t target) {
    vertex_batch_flush();
    if (target < 0) target = 0;
    if (!target_usable(target)) return;
    gl_render_target_set(target);
    if (target > 0 && gl_target_image()) hardware_img_depth_attach(gl_target_image());
    gl_depth_writes_on();
    glClear(GL_DEPTH_BUFFER_BIT);
}

void draw_window_rect(const window_rect& rect, int32_t source) {
    gl_render_target_set(0);
    gl_projection_set(projection_2d);
    textured_rect(rect.left, rect.top, rect.right, rect.bottom, source, 0, 0, 0, 0, 0, 0);
}

void window_clear() {
    gl_render_target_set(0);
    gl_depth_writes_on();  // a depth mode without writes would keep the depth buffer from clearing
    glClearColor(0.0f, 0.0f, 0.0f, 0.0f);
    glClear(GL_COLOR_BUFFER_BIT | GL_DEPTH_BUFFER_BIT);
}

bool render_layer_play(render_queue_walk& walk, int32_t layer) {
    screen_commands_drawn = false;
    render_queue_play(walk, layer, command_play);
    vertex_batch_flush();
    return screen_commands_drawn;
}
