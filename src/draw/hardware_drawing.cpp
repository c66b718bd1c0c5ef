#include "draw/hardware_drawing.h"

#include <atomic>

#include "core/error_codes.h"
#include "core/errors.h"
#include "draw/triangle_map.h"
#include "screen/hardware_images.h"
#include "screen/image_pool.h"

namespace {

// The depth modes of the two screen hardware layers (a hardware image keeps its own).
struct depth_modes {
    int32_t depth_mode_layer0 = depth_test_write;
    int32_t depth_mode_layer1 = depth_test_write;
};
depth_modes depth;

constexpr int32_t layer_1_handle = 1;

enum : int32_t {
    depth_kind_on = 1,
    depth_kind_off = 2,
    depth_kind_test_only = 3,
    depth_kind_clear = 4,
};
constexpr uint32_t depth_target_given = 0x1;

bool in_hardware_range(int32_t handle) { return handle >= hardware_img_handle_base && handle < hardware_img_handle_end; }

hardware_img* listed_image(int32_t handle) {
    if (!hardware_img_list || !in_hardware_range(handle)) return nullptr;
    return static_cast<hardware_img*>(list_get(hardware_img_list, hardware_img_id_from_handle(handle)));
}

}  // namespace

hardware_source hardware_source_of(int32_t handle) {
    hardware_source out;
    if (handle == 0 || !listed_image(handle)) return out;
    out.hardware = true;
    out.image = hardware_img_from_handle(handle);
    if (!out.image) {
        out.refused = true;
        error_raise(error_invalid_handle);
        return out;
    }
    out.id = hardware_img_id_from_handle(handle);
    return out;
}

bool hardware_destination_resolve(int32_t handle, hardware_destination& out) {
    if (handle < 0) {
        out.image = hardware_img_from_handle(handle);
        if (!out.image) {
            error_raise(error_invalid_handle);
            return false;
        }
        out.number = hardware_img_id_from_handle(handle);
        return true;
    }
    if (handle > layer_1_handle) {
        error_raise(error_illegal_function_call);
        return false;
    }
    out.image = nullptr;
    out.number = handle == 0 ? render_layer_0 : render_layer_1;
    return true;
}

int32_t hardware_blend_of(const hardware_img* source, const hardware_destination& destination) {
    bool off = source->no_blend != 0;
    if (destination.image) off = off || destination.image->no_blend != 0;
    else off = off || display_image.load()->blend_off != 0;
    return off ? 0 : 1;
}

int32_t hardware_depth_mode(const hardware_destination& destination) {
    if (destination.image) return destination.image->depth_mode;
    return destination.number == render_layer_0 ? depth.depth_mode_layer0 : depth.depth_mode_layer1;
}

void triangle_map_hardware(int32_t cull, float sx1, float sy1, float sx2, float sy2, float sx3, float sy3,
                           const hardware_source& source, float dx1, float dy1, float dz1, float dx2, float dy2,
                           float dz2, float dx3, float dy3, float dz3, int32_t destination, int32_t smooth,
                           int32_t flags) {
    render_queue_prune();
    hardware_destination target;
    if (!hardware_destination_resolve(destination, target)) return;
    bool three_d = (flags & triangle_3d_bits) != 0;
    if ((flags & triangle_seamless) && !three_d) {
        error_raise(error_illegal_function_call);
        return;
    }
    render_command c;
    c.kind = three_d ? render_triangle_3d : render_triangle_2d;
    c.source = source.id;
    c.destination = target.number;
    c.source_x1 = sx1, c.source_y1 = sy1, c.source_x2 = sx2, c.source_y2 = sy2, c.source_x3 = sx3, c.source_y3 = sy3;
    c.dest_x1 = dx1, c.dest_y1 = dy1, c.dest_x2 = dx2, c.dest_y2 = dy2, c.dest_x3 = dx3, c.dest_y3 = dy3;
    if (three_d) {
        c.cull = cull == 1 || cull == 2 ? cull : 0;
        c.dest_z1 = dz1, c.dest_z2 = dz2, c.dest_z3 = dz3;
        c.depth = hardware_depth_mode(target);
    }
    c.smooth = smooth;
    c.blend = hardware_blend_of(source.image, target);
    render_command_queue(c);
}

void depth_buffer_set(int32_t kind, int32_t target, int32_t flags) {
    if (error_pending()) return;
    hardware_destination d;
    if (!hardware_destination_resolve(flags & depth_target_given ? target : 0, d)) return;
    int32_t mode = 0;
    switch (kind) {
        case depth_kind_clear: {
            render_command c;
            c.kind = render_depth_clear;
            c.destination = d.number;
            render_command_queue(c);
            return;
        }
        case depth_kind_on: mode = depth_test_write; break;
        case depth_kind_off: mode = depth_off; break;
        case depth_kind_test_only: mode = depth_test_only; break;
        default: return;  // no defined mode
    }
    if (d.image) d.image->depth_mode = mode;
    else if (d.number == render_layer_0) depth.depth_mode_layer0 = mode;
    else depth.depth_mode_layer1 = mode;
}

void hardware_drawing_reset() { depth = depth_modes{}; }
