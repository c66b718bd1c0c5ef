#include "screen/image_handles.h"

#include <cstdlib>
#include <cstring>

#include "core/errors.h"
#include "screen/fonts.h"
#include "screen/hardware_images.h"
#include "screen/image_pool.h"

namespace {

constexpr size_t palette_bytes = 256 * sizeof(uint32_t);
constexpr int32_t hardware_copy_mode = 33;

bool is_32_bit(const image_record* r) { return r->mode == 32; }

// The hardware image a handle names, or null with error 258.
hardware_img* hardware_target(int32_t handle) {
    hardware_img* img = hardware_img_from_handle(handle);
    if (!img) error_raise(error_invalid_handle);
    return img;
}

// Image slots stay below the first hardware handle, so no image handle is taken for one.
static_assert(int64_t{image_pool_max_chunks} * image_pool_chunk_records <= -int64_t{hardware_img_handle_end});

bool hardware_given(int32_t handle, int32_t handle_given) { return handle_given && handle < hardware_img_handle_end; }

void inherit_from(image_record* r, int32_t slot, const image_record* like) {
    if (like->palette && r->palette) std::memcpy(r->palette, like->palette, palette_bytes);
    image_font_select(like->font, -slot, 1);
    r->fore_color = like->fore_color;
    r->back_color = like->back_color;
    r->clear_color = like->clear_color;
    r->blend_off = like->blend_off;
    r->print_mode = like->print_mode;
}

int32_t hardware_copy_of(const image_record* r) {
    auto* pixels = reinterpret_cast<uint32_t*>(r->pixels);
    int32_t id = hardware_img_new(r->width, r->height, pixels, hardware_img_deferred | hardware_img_copy);
    return id > 0 ? id + hardware_img_handle_base : -1;
}

// A copy of the bytes in memory of its own; null when memory runs out.
void* duplicate(const void* from, size_t bytes) {
    void* to = std::malloc(bytes ? bytes : 1);
    if (to && bytes) std::memcpy(to, from, bytes);
    return to;
}

// Blending of a hardware image; false when the handle names no hardware image.
bool hardware_blend_set(int32_t handle, int32_t handle_given, int32_t no_blend) {
    if (!hardware_given(handle, handle_given)) return false;
    if (hardware_img* img = hardware_target(handle)) img->no_blend = no_blend;
    return true;
}

// Width or height of a hardware image or an image record; 0 after an error.
int32_t image_size_get(int32_t handle, int32_t handle_given, bool width) {
    if (error_pending()) return 0;
    if (hardware_given(handle, handle_given)) {
        const hardware_img* img = hardware_target(handle);
        return img ? (width ? img->width : img->height) : 0;
    }
    const image_record* r = image_target(handle, handle_given);
    return r ? (width ? r->width : r->height) : 0;
}

}  // namespace

int32_t image_handle_new(int32_t width, int32_t height, int32_t mode, int32_t mode_given) {
    if (error_pending()) return 0;
    if (width <= 0 || height <= 0 || (mode_given && !image_mode_valid(mode))) {
        error_raise(error_illegal_function_call);
        return 0;
    }
    const image_record* like = dest_image;
    int32_t slot = image_new(width, height, mode_given ? mode : like->mode);
    if (!slot) return error_pending() ? 0 : -1;
    if (!mode_given) inherit_from(&image_pool[slot], slot, like);
    return -slot;
}

int32_t image_handle_copy(int32_t handle, int32_t mode, int32_t mode_given) {
    if (error_pending()) return 0;
    int32_t from_slot = image_handle_resolve(handle);
    if (!from_slot) return 0;
    if (mode_given && mode != image_pool[from_slot].mode) {
        if (mode == hardware_copy_mode && is_32_bit(&image_pool[from_slot])) return hardware_copy_of(&image_pool[from_slot]);
        error_raise(error_illegal_function_call);
        return -1;
    }
    int32_t slot = image_slot_take();
    if (!slot) return -1;
    const image_record& from = image_pool[from_slot];  // read after the slot is taken
    void* pixels = duplicate(from.pixels, image_pixel_bytes(&from));
    void* palette = from.palette ? duplicate(from.palette, palette_bytes) : nullptr;
    if (!pixels || (from.palette && !palette)) {
        std::free(pixels);
        std::free(palette);
        image_slot_release(slot);
        return -1;
    }
    image_record& r = image_pool[slot];
    r = from;
    r.pixels = static_cast<uint8_t*>(pixels);
    r.palette = static_cast<uint32_t*>(palette);
    r.image_flags = (from.image_flags & ~(image_is_screen_page | image_owns_palette)) | image_owns_pixels |
                    (palette ? uint32_t{image_owns_palette} : 0u);
    r.lock = nullptr;
    r.lock_id = 0;
    return -slot;
}

void image_handle_free(int32_t handle, int32_t handle_given) {
    if (error_pending()) return;
    if (handle_given && handle >= 0) {
        error_raise(error_illegal_function_call);
        return;
    }
    if (hardware_given(handle, handle_given)) {
        if (!hardware_img_free_request(handle)) error_raise(error_invalid_handle);
        return;
    }
    int32_t slot = handle_given ? image_handle_resolve(handle) : dest_image_index;
    if (!slot) return;
    if (image_pool[slot].image_flags & image_is_screen_page) {
        error_raise(error_illegal_function_call);
        return;
    }
    image_free(slot);
}

void image_blend_enable(int32_t handle, int32_t handle_given) {
    if (error_pending() || hardware_blend_set(handle, handle_given, 0)) return;
    image_record* r = image_target(handle, handle_given);
    if (!r) return;
    if (is_32_bit(r)) r->blend_off = 0;
    else error_raise(error_illegal_function_call);
}

void image_blend_disable(int32_t handle, int32_t handle_given) {
    if (error_pending() || hardware_blend_set(handle, handle_given, 1)) return;
    image_record* r = image_target(handle, handle_given);
    if (r && is_32_bit(r)) r->blend_off = 1;
}

void image_transparent_color_set(uint32_t colour, int32_t handle, int32_t flags) {
    if (error_pending()) return;
    bool clear = flags & transparent_clear, given = flags & transparent_colour_given;
    if (clear == given) {
        error_raise(error_illegal_function_call);
        return;
    }
    image_record* r = image_target(handle, flags & transparent_handle_given);
    if (!r) return;
    if (r->is_text) {
        if (given) error_raise(error_illegal_function_call);
    } else if (!is_32_bit(r)) {
        if (clear) r->clear_color = -1;
        else if (colour < 256) r->clear_color = static_cast<int32_t>(colour);
        else error_raise(error_illegal_function_call);
    } else if (given) {
        auto* p = reinterpret_cast<uint32_t*>(r->pixels);
        size_t n = size_t{r->width} * r->height;
        uint32_t rgb = colour & 0x00FFFFFF;
        for (size_t i = 0; i < n; ++i)
            if ((p[i] & 0x00FFFFFF) == rgb) p[i] = rgb;
    }
}

void image_alpha_set(int32_t alpha, uint32_t colour1, uint32_t colour2, int32_t handle, int32_t flags) {
    if (error_pending()) return;
    image_record* r = image_target(handle, flags & alpha_handle_given);
    if (!r) return;
    if (!is_32_bit(r) || alpha < 0 || alpha > 255) {
        error_raise(error_illegal_function_call);
        return;
    }
    auto* p = reinterpret_cast<uint32_t*>(r->pixels);
    size_t n = size_t{r->width} * r->height;
    uint32_t a = static_cast<uint32_t>(alpha) << 24;
    auto set_alpha = [a](uint32_t& pixel) { pixel = (pixel & 0x00FFFFFF) | a; };
    bool range = (flags & alpha_colour_range) && colour1 != colour2;
    if (range) {
        uint32_t low[4], high[4];
        for (int b = 0; b < 4; ++b) {
            uint32_t u = (colour1 >> (8 * b)) & 0xFF, v = (colour2 >> (8 * b)) & 0xFF;
            low[b] = u < v ? u : v;
            high[b] = u < v ? v : u;
        }
        for (size_t i = 0; i < n; ++i) {
            bool within = true;
            for (int b = 0; b < 4 && within; ++b) {
                uint32_t byte = (p[i] >> (8 * b)) & 0xFF;
                within = byte >= low[b] && byte <= high[b];
            }
            if (within) set_alpha(p[i]);
        }
    } else if (flags & (alpha_one_colour | alpha_colour_range)) {
        for (size_t i = 0; i < n; ++i)
            if (p[i] == colour1) set_alpha(p[i]);
    } else {
        for (size_t i = 0; i < n; ++i) set_alpha(p[i]);
    }
}

int32_t image_width_get(int32_t handle, int32_t handle_given) { return image_size_get(handle, handle_given, true); }

int32_t image_height_get(int32_t handle, int32_t handle_given) { return image_size_get(handle, handle_given, false); }

int32_t image_pixel_size_get(int32_t handle, int32_t handle_given) {
    if (error_pending()) return 0;
    const image_record* r = image_target(handle, handle_given);
    if (!r) return 0;
    return is_32_bit(r) ? 4 : r->is_text ? 0 : 1;
}

int32_t image_transparent_color_get(int32_t handle, int32_t handle_given) {
    if (error_pending()) return 0;
    const image_record* r = image_target(handle, handle_given);
    if (!r) return 0;
    return r->is_text ? -1 : is_32_bit(r) ? 0 : r->clear_color;
}

int32_t image_blend_get(int32_t handle, int32_t handle_given) {
    if (error_pending()) return 0;
    const image_record* r = image_target(handle, handle_given);
    return r && is_32_bit(r) && r->blend_off == 0 ? -1 : 0;
}

int32_t image_fore_color_get(int32_t handle, int32_t handle_given) {
    if (error_pending()) return 0;
    const image_record* r = image_target(handle, handle_given);
    return r ? r->fore_color : 0;
}

uint32_t image_back_color_get(int32_t handle, int32_t handle_given) {
    if (error_pending()) return 0;
    const image_record* r = image_target(handle, handle_given);
    return r ? r->back_color : 0;
}
