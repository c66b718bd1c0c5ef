#include "display/hardware_textures.h"

#include <GL/glew.h>
#include <GL/glu.h>

#include <atomic>
#include <cstdlib>
#include <cstring>

#include "core/alerts.h"
#include "core/errors.h"
#include "display/gl_state.h"
#include "screen/hardware_images.h"

namespace {

struct texture_state {
    std::atomic<bool> npot_refused{false};
    // The padding buffer of pixels_pad_pow2 (main thread), reused between calls.
    uint32_t* pad_buffer = nullptr;
    size_t pad_capacity = 0;
};
texture_state hw;

bool power_of_two(int32_t n) { return n > 0 && (n & (n - 1)) == 0; }

int32_t power_of_two_above(int32_t n) {
    int32_t p = 1;
    while (p < n && p < (1 << 30)) p <<= 1;
    return p;
}

void gl_errors_clear() {
    for (int i = 0; i < 64 && glGetError() != GL_NO_ERROR; ++i) {
    }
}

bool texture_upload(int32_t w, int32_t h, const uint32_t* pixels) {
    if (hw.npot_refused.load(std::memory_order_relaxed) && !(power_of_two(w) && power_of_two(h))) return false;
    glTexImage2D(GL_TEXTURE_2D, 0, GL_RGBA, w, h, 0, GL_BGRA, GL_UNSIGNED_BYTE, pixels);
    return glGetError() == GL_NO_ERROR;
}

// Steps of making a texture: exact size, else padded to powers of two, else mipmaps.
void texture_make(hardware_img* img, uint32_t* pixels) {
    img->texture = gl_texture_new();
    glBindTexture(GL_TEXTURE_2D, img->texture);
    gl_errors_clear();
    if (texture_upload(img->width, img->height, pixels)) return;
    int32_t w = img->width;
    int32_t h = img->height;
    uint32_t* padded = pixels_pad_pow2(w, h, pixels);
    gl_errors_clear();
    if (texture_upload(w, h, padded)) {
        img->upload_mode = 1;
        img->texture_width = w;
        img->texture_height = h;
        return;
    }
    GLint result = gluBuild2DMipmaps(GL_TEXTURE_2D, GL_RGBA, img->width, img->height, GL_BGRA, GL_UNSIGNED_BYTE,
                                     pixels);
    if (result != 0) {
        alert_text("gluBuild2DMipmaps failed");
        alert_number(result);
    }
    img->upload_mode = 2;
    img->texture_width = img->width;
    img->texture_height = img->height;
}

}  // namespace

uint32_t gl_texture_new() {
    GLuint name = 0;
    glGenTextures(1, &name);
    return name;
}

void hardware_img_npot_refuse(bool refuse) { hw.npot_refused.store(refuse); }

int32_t hardware_img_new_uploaded(int32_t width, int32_t height, uint32_t* pixels, int32_t flags) {
    int32_t id = hardware_img_new(width, height, pixels, flags & ~hardware_img_deferred);
    texture_make(hardware_img_at(id), pixels);
    gl_texture_bind(-1);
    return id;
}

void hardware_img_upload(int32_t id) {
    hardware_img* img = hardware_img_at(id);
    if (!img || img->texture != 0) return;
    texture_make(img, img->kept_pixels);
    std::free(img->kept_pixels);
    img->kept_pixels = nullptr;
    gl_texture_bind(-1);
}

void hardware_img_depth_attach(hardware_img* img) {
    if (img->depth_texture != 0) return;
    GLuint depth = gl_texture_new();
    glBindTexture(GL_TEXTURE_2D, depth);
    glTexParameteri(GL_TEXTURE_2D, GL_TEXTURE_WRAP_S, GL_REPEAT);
    glTexParameteri(GL_TEXTURE_2D, GL_TEXTURE_WRAP_T, GL_REPEAT);
    glTexParameteri(GL_TEXTURE_2D, GL_TEXTURE_MIN_FILTER, GL_NEAREST);
    glTexParameteri(GL_TEXTURE_2D, GL_TEXTURE_MAG_FILTER, GL_NEAREST);
    glTexParameteri(GL_TEXTURE_2D, GL_DEPTH_TEXTURE_MODE, GL_INTENSITY);
    glTexParameteri(GL_TEXTURE_2D, GL_TEXTURE_COMPARE_MODE, GL_COMPARE_R_TO_TEXTURE);
    glTexParameteri(GL_TEXTURE_2D, GL_TEXTURE_COMPARE_FUNC, GL_LEQUAL);
    // The depth attachment must match the colour texture, which may be padded.
    int32_t w = 0, h = 0;
    hardware_img_texture_size(*img, w, h);
    glTexImage2D(GL_TEXTURE_2D, 0, GL_DEPTH_COMPONENT24, w, h, 0, GL_DEPTH_COMPONENT, GL_UNSIGNED_INT, nullptr);
    glFramebufferTexture2DEXT(GL_FRAMEBUFFER_EXT, GL_DEPTH_ATTACHMENT_EXT, GL_TEXTURE_2D, depth, 0);
    glClear(GL_DEPTH_BUFFER_BIT);
    img->depth_texture = depth;
    gl_texture_bind(-1);
}

void free_hardware_img(int32_t id) {
    hardware_img* img = hardware_img_at(id);
    if (!img) {
        alert_text("free_hardware_img: image does not exist");
        return;
    }
    gl_caches_forget_image(id);
    if (img->framebuffer != 0) glDeleteFramebuffersEXT(1, &img->framebuffer);
    if (img->depth_texture != 0) glDeleteTextures(1, &img->depth_texture);
    if (img->texture != 0) glDeleteTextures(1, &img->texture);
    std::free(img->kept_pixels);
    img->kept_pixels = nullptr;
    list_remove(hardware_img_list, id);
}

uint32_t* pixels_pad_pow2(int32_t& w, int32_t& h, uint32_t* pixels) {
    if (w <= 0 || h <= 0) return pixels;
    int32_t pw = power_of_two_above(w);
    int32_t ph = power_of_two_above(h);
    // Wider or higher than the largest power of two kept: nothing to pad to.
    if ((pw == w && ph == h) || pw < w || ph < h) return pixels;
    size_t count = static_cast<size_t>(pw) * static_cast<size_t>(ph);
    if (count > hw.pad_capacity) {
        auto* grown = static_cast<uint32_t*>(std::realloc(hw.pad_buffer, count * 4));
        if (!grown) {
            error_raise(error_out_of_memory);
            return pixels;
        }
        hw.pad_buffer = grown;
        hw.pad_capacity = count;
    }
    uint32_t* out = hw.pad_buffer;
    for (int32_t y = 0; y < h; ++y) {
        uint32_t* row = out + static_cast<size_t>(y) * pw;
        std::memcpy(row, pixels + static_cast<size_t>(y) * w, static_cast<size_t>(w) * 4);
        if (pw > w) row[w] = row[w - 1];
    }
    int32_t used = pw > w ? w + 1 : w;
    if (ph > h)
        std::memcpy(out + static_cast<size_t>(h) * pw, out + static_cast<size_t>(h - 1) * pw,
                    static_cast<size_t>(used) * 4);
    w = pw;
    h = ph;
    return out;
}
