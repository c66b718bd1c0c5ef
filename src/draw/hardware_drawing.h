// Drawing with hardware images from the program thread: which handles take the hardware path, the
// destinations of commands (a hardware image or one of the two screen hardware layers), the
// triangle commands of triangle_map with a hardware source, and the depth modes with their clear
// command. Nothing here draws: the renderer plays the queued commands on the main thread.
// Not here: the rectangle command of the image copy (image_copy.cpp) and the queue itself
// (screen/hardware_images.h).
#pragma once

#include <cstdint>

struct hardware_img;

// A handle of a drawing statement's source. `hardware` is false for a handle that takes the
// software path (0, outside the hardware range, or naming no image of the list); an image whose
// free was already asked is refused with error 258 (`refused`): the queue may have deleted its
// texture by the time the command is played.
struct hardware_source {
    bool hardware = false;
    bool refused = false;
    int32_t id = 0;
    hardware_img* image = nullptr;
};
hardware_source hardware_source_of(int32_t handle);

// The destination of a hardware command: a hardware image's list id, or render_layer_0 (handle 0)
// or render_layer_1 (handle 1); image is null for a layer.
struct hardware_destination {
    int32_t number = 0;
    hardware_img* image = nullptr;
};
// False with error 258 for a negative handle that names no hardware image, error 5 above 1.
bool hardware_destination_resolve(int32_t handle, hardware_destination& out);
// 1 unless the source or the destination has blending off; a layer follows the displayed image.
int32_t hardware_blend_of(const hardware_img* source, const hardware_destination& destination);

// Depth modes: 0 off, 1 test and write, 2 test without writing.
enum : int32_t { depth_off = 0, depth_test_write = 1, depth_test_only = 2 };
// The depth mode of a destination now.
int32_t hardware_depth_mode(const hardware_destination& destination);

// triangle_map with a hardware source: queues a 2-D (kind 4) or 3-D (kind 5) triangle command.
void triangle_map_hardware(int32_t cull, float sx1, float sy1, float sx2, float sy2, float sx3, float sy3,
                           const hardware_source& source, float dx1, float dy1, float dz1, float dx2, float dy2,
                           float dz2, float dx3, float dy3, float dz3, int32_t destination, int32_t smooth,
                           int32_t flags);

// kind 1 depth on, 2 off, 3 test without writing (each at once), 4 queue a clear of the depth
// buffer; flags 0x1: a target is given (else hardware layer 0).
void depth_buffer_set(int32_t kind, int32_t target, int32_t flags);

// Tests: both layers back to depth mode 1.
void hardware_drawing_reset();
