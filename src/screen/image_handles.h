// The image statements and functions of translated programs by handle: making an image (like the
// destination or of a given mode), copying one (also into a hardware image), freeing one, alpha
// blending on or off, the transparent colour, alpha values, and the size and colour queries.
// Without a handle each works on the destination image. Handles resolve as the image pool says;
// hardware images are accepted only by making (copy to mode 33), freeing, blending and the size
// queries. Everything returns at once (result 0) while an error is pending. Program thread only.
#pragma once

#include <cstdint>

// Without a mode the new image is made like the destination: its mode, palette, font, colours,
// transparent colour, blending and print mode. Returns the handle, -1 when memory runs out.
int32_t image_handle_new(int32_t width, int32_t height, int32_t mode, int32_t mode_given);
// A copy with its own pixels and palette; mode 33 of a 32-bit image makes a hardware image.
int32_t image_handle_copy(int32_t handle, int32_t mode, int32_t mode_given);
// Screen pages cannot be freed (error 5); a hardware image is freed by the renderer.
void image_handle_free(int32_t handle, int32_t handle_given);

void image_blend_enable(int32_t handle, int32_t handle_given);
void image_blend_disable(int32_t handle, int32_t handle_given);

// Flags of image_transparent_color_set: exactly one of clear and colour.
enum : int32_t { transparent_clear = 1, transparent_colour_given = 2, transparent_handle_given = 4 };
void image_transparent_color_set(uint32_t colour, int32_t handle, int32_t flags);

// Flags of image_alpha_set: one colour, a colour range, a handle.
enum : int32_t { alpha_one_colour = 1, alpha_handle_given = 2, alpha_colour_range = 4 };
void image_alpha_set(int32_t alpha, uint32_t colour1, uint32_t colour2, int32_t handle, int32_t flags);

int32_t image_width_get(int32_t handle, int32_t handle_given);
int32_t image_height_get(int32_t handle, int32_t handle_given);
// 4 for a 32-bit image, 0 for a text image, 1 otherwise.
int32_t image_pixel_size_get(int32_t handle, int32_t handle_given);
// -1 for a text image, 0 for a 32-bit image, else the transparent palette index (-1 = none).
int32_t image_transparent_color_get(int32_t handle, int32_t handle_given);
// -1 for a 32-bit image that blends, else 0.
int32_t image_blend_get(int32_t handle, int32_t handle_given);
int32_t image_fore_color_get(int32_t handle, int32_t handle_given);
uint32_t image_back_color_get(int32_t handle, int32_t handle_given);
