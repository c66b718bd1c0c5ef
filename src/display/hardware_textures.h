// The graphics driver's side of hardware images (main thread): an image's texture made at once or
// at its deferred upload, its depth texture, the deletion of its GL objects, and the padding of a
// texture to powers of two where the driver wants it. Not here: the images' list, their handles
// and the render queue (screen/hardware_images.h).
#pragma once

#include <cstdint>

struct hardware_img;

// Makes an image with its texture uploaded now; returns its list id.
int32_t hardware_img_new_uploaded(int32_t width, int32_t height, uint32_t* pixels, int32_t flags);
// Makes the texture of a deferred image.
void hardware_img_upload(int32_t id);
// Gives the image a depth texture attached to the bound framebuffer.
void hardware_img_depth_attach(hardware_img* img);
// Deletes the GL objects, the kept pixels and the list item.
void free_hardware_img(int32_t id);

// The pixels to upload for a texture padded to powers of two: the given pixels when the size is
// already one, else a reused buffer whose extra column and row repeat the last ones; w and h become
// the padded size. One buffer.
uint32_t* pixels_pad_pow2(int32_t& w, int32_t& h, uint32_t* pixels);
uint32_t gl_texture_new();
// Tests: uploads of sizes that are not powers of two fail, as on a driver without them.
void hardware_img_npot_refuse(bool refuse);
