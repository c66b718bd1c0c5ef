#include "screen/colors.h"

#include <algorithm>
#include <cmath>
#include <cstdlib>
#include <cstring>

#include "core/errors.h"
#include "screen/image_pool.h"
#include "screen/palette.h"

namespace {

constexpr uint32_t vga_component_bits = 0x003F3F3F;

bool image_is_truecolour(const image_record* image) { return image->bytes_per_pixel == 4; }

// Colours a palette operation may name: a text image's attributes use 16 entries, others as many
// as their bits reach, never beyond the 256 entries a palette has.
uint32_t palette_entries_named(const image_record* image) { return image->is_text ? 16 : image->color_mask + 1; }
uint32_t palette_highest_index(const image_record* image) { return std::min<uint32_t>(image->color_mask, 255); }


// Foreground and background limits of dest_colors_set by mode; -1 = any value.
struct color_limits {
    int64_t fore;
    int64_t back;
};
bool color_limits_of(int32_t mode, color_limits* limits) {
    switch (mode) {
        case 0: *limits = {31, 15}; return true;
        case 1: *limits = {15, -1}; return true;
        case 2: *limits = {1, 15}; return true;
        case 7:
        case 8: *limits = {15, 15}; return true;
        case 9: *limits = {15, 63}; return true;
        case 10: *limits = {3, 8}; return true;
        case 11: *limits = {1, 1}; return true;
        case 12: *limits = {15, 15}; return true;
        case 13:
        case 256: *limits = {255, 255}; return true;
        case 32: *limits = {-1, -1}; return true;
        default: return false;
    }
}

bool within(int32_t value, int64_t limit) { return limit < 0 || static_cast<uint32_t>(value) <= limit; }

// Where the background of dest_colors_set goes in the modes that show it through entry 0.
void background_store(image_record* d, int32_t back) {
    switch (d->mode) {
        case 1: {
            static constexpr int odd_entries[3] = {3, 5, 7}, even_entries[3] = {2, 4, 6};
            const int* from = (back & 1) ? odd_entries : even_entries;
            for (int i = 0; i < 3; ++i) d->palette[i + 1] = default_palette_256[from[i]];
            break;
        }
        case 2:
        case 7:
        case 8: d->palette[0] = default_palette_256[back]; break;
        case 9: d->palette[0] = ega_palette_64[back]; break;
        case 10: d->palette[4] = static_cast<uint32_t>(back); break;
        case 0: d->back_color = static_cast<uint32_t>(back) & 7; break;
        default: d->back_color = static_cast<uint32_t>(back); break;
    }
}

// Attribute and colour limits of palette_attribute_set by mode, and how the colour is made.
enum class attribute_source { ega, default_palette, pseudo, vga };
struct attribute_rule {
    uint32_t highest_attribute;
    attribute_source source;
    uint32_t highest_colour;  // for the table sources
};
bool attribute_rule_of(int32_t mode, attribute_rule* rule) {
    switch (mode) {
        case 0:
        case 9: *rule = {15, attribute_source::ega, 63}; return true;
        case 1:
        case 7:
        case 8: *rule = {15, attribute_source::default_palette, 15}; return true;
        case 2: *rule = {1, attribute_source::default_palette, 15}; return true;
        case 10: *rule = {3, attribute_source::pseudo, 8}; return true;
        case 11: *rule = {1, attribute_source::vga, 0}; return true;
        case 12: *rule = {15, attribute_source::vga, 0}; return true;
        case 13:
        case 256: *rule = {255, attribute_source::vga, 0}; return true;
        default: return false;
    }
}

int32_t nearest_in(const image_record* image, int32_t r, int32_t g, int32_t b) {
    if (!image->palette) return 0;
    const uint32_t last = image->is_text ? 15 : palette_highest_index(image);
    int32_t best = 0, best_distance = 1000;
    for (uint32_t i = 0; i <= last; ++i) {
        const uint32_t e = image->palette[i];
        const int32_t distance = std::abs(r - static_cast<int32_t>((e >> 16) & 255)) +
                                 std::abs(g - static_cast<int32_t>((e >> 8) & 255)) +
                                 std::abs(b - static_cast<int32_t>(e & 255));
        if (distance == 0) return static_cast<int32_t>(i);
        if (distance < best_distance) {
            best_distance = distance;
            best = static_cast<int32_t>(i);
        }
    }
    return best;
}

int32_t clamp_component(int32_t v) { return std::clamp(v, 0, 255); }

// A palette colour a getter may read: error 5 above the image's colours.
bool palette_colour_readable(const image_record* image, uint32_t colour) {
    if (colour > palette_highest_index(image) || !image->palette) {
        error_raise(error_illegal_function_call);
        return false;
    }
    return true;
}

uint32_t component_get(uint32_t colour, int32_t handle, int32_t handle_given, int shift) {
    if (error_pending()) return 0;
    const image_record* image = image_target(handle, handle_given);
    if (!image) return 0;
    if (image_is_truecolour(image)) return (colour >> shift) & 255;
    if (!palette_colour_readable(image, colour)) return 0;
    return (image->palette[colour] >> shift) & 255;
}

}  // namespace

uint32_t vga_color_to_entry(uint32_t vga) {
    auto widen = [](uint32_t c) {
        return static_cast<uint32_t>(std::nearbyintl(static_cast<long double>(c) * 4.0634918212890625L -
                                                     0.49999991059303284L));
    };
    const uint32_t red = widen(vga & 63), green = widen((vga >> 8) & 63), blue = widen((vga >> 16) & 63);
    return red << 16 | green << 8 | blue;
}

void dest_colors_set(int32_t fore, int32_t back, int32_t third, int32_t flags) {
    (void)third;
    if (error_pending() || flags == 0) return;
    image_record* d = dest_image;
    color_limits limits;
    if (!color_limits_of(d->mode, &limits) || ((flags & 4) && d->mode != 0) ||
        ((flags & 1) && !within(fore, limits.fore)) || ((flags & 2) && !within(back, limits.back))) {
        error_raise(error_illegal_function_call);
        return;
    }
    if (flags & 1) {
        if (d->mode == 1) {
            d->palette[0] = default_palette_256[fore];
        } else {
            d->fore_color = fore;
        }
    }
    if (flags & 2) background_store(d, back);
}

void palette_attribute_set(int32_t attribute, int32_t colour, int32_t given) {
    if (error_pending()) return;
    image_record* d = dest_image;
    if (given == 0) {
        palette_load_default(d);
        return;
    }
    // Taken modulo 256: -1 names attribute 255.
    const uint32_t index = static_cast<uint32_t>(attribute) & 255;
    const uint32_t value = static_cast<uint32_t>(colour);
    attribute_rule rule;
    if (!d->palette || !attribute_rule_of(d->mode, &rule) || index > rule.highest_attribute) {
        error_raise(error_illegal_function_call);
        return;
    }
    if (rule.source == attribute_source::vga ? (value & ~vga_component_bits) != 0 : value > rule.highest_colour) {
        error_raise(error_illegal_function_call);
        return;
    }
    switch (rule.source) {
        case attribute_source::ega: d->palette[index] = ega_palette_64[value]; break;
        case attribute_source::default_palette: d->palette[index] = default_palette_256[value]; break;
        case attribute_source::pseudo: d->palette[index + 4] = value; break;
        case attribute_source::vga: d->palette[index] = vga_color_to_entry(value); break;
    }
}

void palette_attributes_load(const void* data, int64_t length, int32_t element_bits) {
    if (error_pending()) return;
    const image_record* d = dest_image;
    const int32_t mode = d->mode;
    const bool vga_mode = mode == 11 || mode == 12 || mode == 13 || mode == 256;
    const int64_t element_bytes = element_bits / 8;
    const int64_t count = image_is_truecolour(d) ? 0 : palette_entries_named(d);
    if (image_is_truecolour(d) || (element_bits != 16 && element_bits != 32) || !data ||
        length < element_bytes * count || (element_bits == 16 && vga_mode)) {
        error_raise(error_illegal_function_call);
        return;
    }
    const uint8_t* bytes = static_cast<const uint8_t*>(data);
    for (int64_t i = 0; i < count; ++i) {
        int32_t value;
        if (element_bits == 16) {
            int16_t v;
            std::memcpy(&v, bytes + i * 2, 2);
            value = v;
        } else {
            std::memcpy(&value, bytes + i * 4, 4);
        }
        if (value == -1) continue;
        if (value < -1) {
            error_raise(error_illegal_function_call);
            return;
        }
        palette_attribute_set(static_cast<int32_t>(i), value, 1);
        if (error_pending()) return;
    }
}

void dest_colors_default() {
    image_record* d = dest_image;
    uint32_t fore = 15, back = 0;
    switch (d->mode) {
        case 0: fore = 7; break;
        case 1:
        case 10: fore = 3; break;
        case 2:
        case 11: fore = 1; break;
        case 32:
            fore = 0xFFFFFFFF;
            back = 0xFF000000;
            break;
        default: break;
    }
    d->fore_color = static_cast<int32_t>(fore);
    d->back_color = back;
    d->draw_color = fore;
}

int32_t palette_nearest_dest(int32_t r, int32_t g, int32_t b) { return nearest_in(dest_image, r, g, b); }

int32_t palette_nearest(int32_t r, int32_t g, int32_t b, int32_t slot) {
    if (!image_slot_in_use(slot)) return 0;
    return nearest_in(&image_pool[slot], r, g, b);
}

uint32_t color_from_rgb(int32_t r, int32_t g, int32_t b, int32_t handle, int32_t handle_given) {
    return color_from_rgba(r, g, b, 255, handle, handle_given);
}

uint32_t color_from_rgba(int32_t r, int32_t g, int32_t b, int32_t a, int32_t handle, int32_t handle_given) {
    if (error_pending()) return 0;
    const image_record* image = image_target(handle, handle_given);
    if (!image) return 0;
    r = clamp_component(r);
    g = clamp_component(g);
    b = clamp_component(b);
    a = clamp_component(a);
    if (image_is_truecolour(image)) {
        return static_cast<uint32_t>(a) << 24 | static_cast<uint32_t>(r) << 16 | static_cast<uint32_t>(g) << 8 |
               static_cast<uint32_t>(b);
    }
    if (a == 0 && image->clear_color >= 0) return static_cast<uint32_t>(image->clear_color);
    return static_cast<uint32_t>(nearest_in(image, r, g, b));
}

uint32_t color_alpha_get(uint32_t colour, int32_t handle, int32_t handle_given) {
    if (error_pending()) return 0;
    const image_record* image = image_target(handle, handle_given);
    if (!image) return 0;
    if (image_is_truecolour(image)) return colour >> 24;
    if (!palette_colour_readable(image, colour)) return 0;
    return image->clear_color >= 0 && colour == static_cast<uint32_t>(image->clear_color) ? 0 : 255;
}

uint32_t color_red_get(uint32_t colour, int32_t handle, int32_t handle_given) {
    return component_get(colour, handle, handle_given, 16);
}
uint32_t color_green_get(uint32_t colour, int32_t handle, int32_t handle_given) {
    return component_get(colour, handle, handle_given, 8);
}
uint32_t color_blue_get(uint32_t colour, int32_t handle, int32_t handle_given) {
    return component_get(colour, handle, handle_given, 0);
}
