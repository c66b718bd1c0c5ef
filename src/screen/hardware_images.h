// Hardware images (OpenGL textures with an optional framebuffer and depth texture) and the render
// queue of hardware drawing: the images' list and handles and the queue. The program thread only
// makes deferred images and queues commands; every OpenGL call is made on the main thread, by the
// display (display/hardware_textures.h), whose renderer plays the queue frame by frame. This module
// makes no OpenGL call and does not draw.
#pragma once

#include <cstdint>
#include <vector>

#include "core/list.h"

// An image held by the graphics driver; the items of hardware_img_list.
struct hardware_img {
    int32_t width = 0;
    int32_t height = 0;
    uint32_t texture = 0;        // 0 while the upload is deferred
    uint32_t framebuffer = 0;    // made on first use as a render target
    uint32_t depth_texture = 0;  // made on first 3-D draw or depth clear into the image
    uint32_t* kept_pixels = nullptr;  // owned; waiting for a deferred upload
    int32_t no_blend = 0;
    int32_t depth_mode = 1;  // 0 off, 1 test and write, 2 test only
    // 1 once made; 0 as soon as a program asked to free it. Read by handle look-ups on the program
    // thread while the main thread may be making an image in a reused item: accessed atomically.
    int32_t valid = 0;
    // Texture parameters last set on the texture, -1 not yet set (main thread).
    int32_t min_filter = -1;
    int32_t mag_filter = -1;
    int32_t wrap_mode = -1;
    int32_t upload_mode = 0;  // 0 exact size, 1 padded to powers of two, 2 mipmaps built
    int32_t texture_width = 0;
    int32_t texture_height = 0;
    // Made by the renderer for itself: no program handle reaches it.
    int32_t internal = 0;
    // Unique per image ever made, so a command never draws with a later image that reused the id.
    int64_t serial = 0;
};

// The size of the image's texture: the padded size for a padded one.
inline void hardware_img_texture_size(const hardware_img& img, int32_t& width, int32_t& height) {
    bool padded = img.upload_mode != 0;
    width = padded ? img.texture_width : img.width;
    height = padded ? img.texture_height : img.height;
}

extern list* hardware_img_list;
// The image of a list id, null for none (also before start-up made the list).
hardware_img* hardware_img_at(int32_t id);

constexpr int32_t hardware_img_handle_base = -16777216;
// Handles from the base up to, but not including, this value are hardware handles.
constexpr int32_t hardware_img_handle_end = -8388608;

enum : int32_t {
    hardware_img_deferred = 1,  // no GL call: allowed on any thread
    hardware_img_copy = 2,      // copy the pixels; else a deferred image takes over the malloc'd buffer
    hardware_img_internal = 4,  // the renderer's own image: no program handle reaches it
};

// Start-up: the guarded hardware-image list and the render queue.
void hardware_lists_create();

// Makes an image of 32-bit pixels (0xAARRGGBB, rows from the top); returns its list id. A deferred
// image keeps its pixels for the upload; without the deferred flag the caller makes the texture at
// once (hardware_img_new_uploaded, main thread).
int32_t hardware_img_new(int32_t width, int32_t height, uint32_t* pixels, int32_t flags);
// The image a program handle names, or null: outside the hardware range, a free id, an image
// whose free was asked, or one of the renderer's own.
hardware_img* hardware_img_from_handle(int32_t handle);
int32_t hardware_img_id_from_handle(int32_t handle);
// A program frees an image: the handle is dead at once, the image is deleted by the renderer once
// every command queued before has been played. False (nothing done) for a handle that names none.
bool hardware_img_free_request(int32_t handle);

// A queued hardware drawing operation; the items of render_queue.
enum : int32_t {
    render_rect_copy = 1,
    render_free_requested = 2,
    render_free = 3,
    render_triangle_2d = 4,
    render_triangle_3d = 5,
    render_depth_clear = 6,
};

// Destination of a command: a hardware image's list id (> 0) or a screen hardware layer.
constexpr int32_t render_layer_0 = 0;
constexpr int32_t render_layer_1 = -1;

struct render_command {
    int64_t frame = 0;  // frame_number_next when queued
    int32_t next = 0;   // id of the next command in queue order, 0 for the last
    int32_t kind = 0;
    int32_t skip = 0;  // not 0: matches no kind
    int32_t source = 0;
    int32_t destination = 0;
    float source_x1 = 0, source_y1 = 0, source_x2 = 0, source_y2 = 0, source_x3 = 0, source_y3 = 0;
    float dest_x1 = 0, dest_y1 = 0, dest_z1 = 0;
    float dest_x2 = 0, dest_y2 = 0, dest_z2 = 0;
    float dest_x3 = 0, dest_y3 = 0, dest_z3 = 0;
    int32_t smooth = 0;
    int32_t cull = 0;
    int32_t depth = 0;
    int32_t blend = 0;
    int32_t done = 0;
    // The images as they were when queued (0 for none); stamped by render_command_queue.
    int64_t source_serial = 0;
    int64_t destination_serial = 0;
};

extern list* render_queue;

struct render_queue_ids {
    int32_t first = 0;          // the first command ever queued
    int32_t last = 0;           // the append point
    int32_t last_rendered = 0;  // the last command the renderer played
    int32_t oldest_kept = 0;    // the oldest command still in the list
};
render_queue_ids render_queue_ids_get();

// Queues a command (any thread): prunes first, then stamps frame, links and serials.
int32_t render_command_queue(const render_command& command);
// Drops the commands the renderer has passed; a free request becomes a free at the end.
void render_queue_prune();
// True while the command's images are still the ones it was queued with: an image deleted since,
// or a later image that took over its id, is never drawn from, into or freed by it.
bool render_command_images_current(const render_command& command);
// True when no command of frame `frame` or before is waiting to be played.
bool render_queue_idle(int64_t frame);
// A copy of a queued command.
bool render_command_get(int32_t id, render_command& out);

// One renderer call's walk over the queue. The first pass plays the older frames' commands that
// aim at hardware images (and frees), then frame R's for its target; a later pass only frame R's
// commands for its own target. Commands are handed to play in queue order, outside the queue's lock.
struct render_queue_walk {
    int64_t frame = 0;        // R
    bool first_done = false;  // the first pass has run
    int32_t resume = 0;       // first command of frame R or later, found by the first pass
    bool stopped = false;     // a broken link stopped the walk for this call
    std::vector<render_command> batch;
};
// A target that no command aims at: a first pass that only plays image targets and frees.
constexpr int32_t render_no_layer = -1000;
using render_play_fn = void (*)(const render_command& command);
void render_queue_play(render_queue_walk& walk, int32_t target, render_play_fn play);

// Tests: an empty queue and no images.
void hardware_lists_reset();
