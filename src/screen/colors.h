// Colours of images: the foreground and background of the destination by mode, palette attributes
// in each mode's colour numbers, the default colours of a page, and conversions between colour
// values and red, green, blue and alpha. 32-bit images use 0xAARRGGBB values; palette images use
// indices. It does not write pixels (pixels.h) or hold the default palettes (palette.h).
#pragma once

#include <cstddef>
#include <cstdint>

struct image_record;

// flags: 1 = foreground given, 2 = background given, 4 = a third argument given (the border of
// text mode, ignored there).
void dest_colors_set(int32_t fore, int32_t back, int32_t third, int32_t flags);
// given 0: the destination's palette back to its mode's defaults.
void palette_attribute_set(int32_t attribute, int32_t colour, int32_t given);
// Entries 0 to color_mask (15 on a text image) of the destination from an integer array of 16- or
// 32-bit elements: data points at the first element to use, length is the bytes available there.
void palette_attributes_load(const void* data, int64_t length, int32_t element_bits);
// The default colours of a freshly selected page, on the destination image.
void dest_colors_default();

// The palette index nearest to (r, g, b) of the destination image or of the image in a slot.
int32_t palette_nearest_dest(int32_t r, int32_t g, int32_t b);
int32_t palette_nearest(int32_t r, int32_t g, int32_t b, int32_t slot);
uint32_t color_from_rgb(int32_t r, int32_t g, int32_t b, int32_t handle, int32_t handle_given);
uint32_t color_from_rgba(int32_t r, int32_t g, int32_t b, int32_t a, int32_t handle, int32_t handle_given);
uint32_t color_alpha_get(uint32_t colour, int32_t handle, int32_t handle_given);
uint32_t color_red_get(uint32_t colour, int32_t handle, int32_t handle_given);
uint32_t color_green_get(uint32_t colour, int32_t handle, int32_t handle_given);
uint32_t color_blue_get(uint32_t colour, int32_t handle, int32_t handle_given);

// A 6-bit VGA colour value 0x00BBGGRR as a palette entry 0x00RRGGBB.
uint32_t vga_color_to_entry(uint32_t vga);
