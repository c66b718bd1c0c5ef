#include "display/gl_state.h"

#include <GL/glew.h>
#include <GL/glu.h>

#include <vector>

#include "display/hardware_textures.h"
#include "display/window.h"
#include "screen/hardware_images.h"

namespace {

struct gl_state {
    // Caches, -1 = not yet set.
    int32_t texture = -1;
    hardware_img* texture_img = nullptr;
    int32_t target = -1;
    hardware_img* target_img = nullptr;
    int32_t projection = -1;
    int32_t blend = -1;
    int32_t depth = -1;
    int32_t cull = -1;
    viewport_record viewport;

    // The vertex batch: 2-D integer vertices or 3-D float vertices, with texture coordinates.
    std::vector<int32_t> vertices_2d;
    std::vector<float> vertices_3d;
    std::vector<float> texcoords;
};
gl_state r;

void common_state_set() {
    glColor4f(1.0f, 1.0f, 1.0f, 1.0f);
    glDisable(GL_COLOR_MATERIAL);
    glDisable(GL_LIGHTING);
    glEnable(GL_BLEND);
    r.blend = -1;  // blending was switched on behind the cache's back
    glEnable(GL_TEXTURE_2D);
    glEnableClientState(GL_VERTEX_ARRAY);
    glEnableClientState(GL_TEXTURE_COORD_ARRAY);
    glCullFace(GL_BACK);
}

void projection_2d_set() {
    glMatrixMode(GL_PROJECTION);
    glLoadIdentity();
    glMatrixMode(GL_MODELVIEW);
    glLoadIdentity();
    if (r.target == 0) {
        int32_t w = r.viewport.window_width;
        int32_t h = r.viewport.window_height;
        glMatrixMode(GL_PROJECTION);
        glOrtho(0, w, 0, h, -1, 1);
        glMatrixMode(GL_MODELVIEW);
        // y grows downwards from the window's top.
        glScalef(1.0f, -1.0f, 1.0f);
        glTranslatef(0.0f, static_cast<float>(-h), 0.0f);
        glViewport(0, 0, w, h);
    } else if (r.target_img) {
        // Texture row 0 is the image's top row, so no flip.
        glMatrixMode(GL_PROJECTION);
        glOrtho(0, r.target_img->width, 0, r.target_img->height, -1, 1);
        glMatrixMode(GL_MODELVIEW);
        glViewport(0, 0, r.target_img->width, r.target_img->height);
    }
}

void projection_3d_set() {
    glMatrixMode(GL_PROJECTION);
    glLoadIdentity();
    if (r.target == 0) {
        const viewport_record& v = r.viewport;
        float h = static_cast<float>(v.window_height);
        float fov = v.width > v.height ? 90.0f * h / static_cast<float>(v.width)
                                       : 90.0f * h / static_cast<float>(v.height > 0 ? v.height : 1);
        glViewport(0, 0, v.window_width, v.window_height);
        gluPerspective(fov, static_cast<double>(v.window_width) / (v.window_height > 0 ? v.window_height : 1), 0.1,
                       10000.0);
    } else if (r.target_img) {
        int32_t w = r.target_img->width;
        int32_t h = r.target_img->height;
        glViewport(0, 0, w, h);
        glScalef(1.0f, -1.0f, 1.0f);
        float fov = w > h ? 90.0f * static_cast<float>(h) / static_cast<float>(w) : 90.0f;
        gluPerspective(fov, static_cast<double>(w) / (h > 0 ? h : 1), 0.1, 10000.0);
    }
    glMatrixMode(GL_MODELVIEW);
    glLoadIdentity();
}

}  // namespace

void gl_state_reset() { r = gl_state{}; }

void gl_screen_viewport_set(const viewport_record& v) { r.viewport = v; }
const viewport_record& gl_screen_viewport() { return r.viewport; }

hardware_img* gl_texture_image() { return r.texture_img; }
hardware_img* gl_target_image() { return r.target_img; }

void gl_depth_writes_on() {
    glDepthMask(GL_TRUE);
    r.depth = -1;
}

void vertex_batch_add_2d(int32_t x, int32_t y, float s, float t) {
    r.vertices_2d.push_back(x);
    r.vertices_2d.push_back(y);
    r.texcoords.push_back(s);
    r.texcoords.push_back(t);
}

void vertex_batch_add_3d(float x, float y, float z, float s, float t) {
    r.vertices_3d.push_back(x);
    r.vertices_3d.push_back(y);
    r.vertices_3d.push_back(z);
    r.texcoords.push_back(s);
    r.texcoords.push_back(t);
}

void vertex_batch_flush() {
    if (!r.vertices_2d.empty()) {
        glVertexPointer(2, GL_INT, 8, r.vertices_2d.data());
        glTexCoordPointer(2, GL_FLOAT, 8, r.texcoords.data());
        glDrawArrays(GL_TRIANGLES, 0, static_cast<GLsizei>(r.vertices_2d.size() / 2));
    } else if (!r.vertices_3d.empty()) {
        glVertexPointer(3, GL_FLOAT, 12, r.vertices_3d.data());
        glTexCoordPointer(2, GL_FLOAT, 8, r.texcoords.data());
        glDrawArrays(GL_TRIANGLES, 0, static_cast<GLsizei>(r.vertices_3d.size() / 3));
    }
    r.vertices_2d.clear();
    r.vertices_3d.clear();
    r.texcoords.clear();
}

void gl_filter_set(int32_t min_filter, int32_t mag_filter) {
    hardware_img* img = r.texture_img;
    if (!img) return;
    // A mipmapped texture has no exact nearest form; it is filtered linearly.
    if (img->upload_mode == 2) {
        min_filter = 1;
        mag_filter = 1;
    }
    if (img->min_filter == min_filter && img->mag_filter == mag_filter) return;
    vertex_batch_flush();
    glTexParameteri(GL_TEXTURE_2D, GL_TEXTURE_MIN_FILTER, min_filter ? GL_LINEAR : GL_NEAREST);
    glTexParameteri(GL_TEXTURE_2D, GL_TEXTURE_MAG_FILTER, mag_filter ? GL_LINEAR : GL_NEAREST);
    img->min_filter = min_filter;
    img->mag_filter = mag_filter;
}

void gl_wrap_set(int32_t mode) {
    hardware_img* img = r.texture_img;
    if (!img || img->wrap_mode == mode) return;
    vertex_batch_flush();
    GLint wrap = mode ? GL_REPEAT : GL_CLAMP_TO_EDGE;
    glTexParameteri(GL_TEXTURE_2D, GL_TEXTURE_WRAP_S, wrap);
    glTexParameteri(GL_TEXTURE_2D, GL_TEXTURE_WRAP_T, wrap);
    img->wrap_mode = mode;
}

void gl_blend_set(int32_t on) {
    if (r.blend == on) return;
    vertex_batch_flush();
    if (on) {
        glEnable(GL_BLEND);
        if (fbo_supported.load())
            glBlendFuncSeparateEXT(GL_SRC_ALPHA, GL_ONE_MINUS_SRC_ALPHA, GL_ONE, GL_ONE);
        else
            glBlendFunc(GL_SRC_ALPHA, GL_ONE_MINUS_SRC_ALPHA);
    } else {
        glDisable(GL_BLEND);
    }
    r.blend = on;
}

void gl_depth_mode_set(int32_t mode) {
    if (r.depth == mode) return;
    vertex_batch_flush();
    if (mode == 0) {
        glDisable(GL_DEPTH_TEST);
        glDisable(GL_ALPHA_TEST);
    } else {
        glEnable(GL_DEPTH_TEST);
        glDepthMask(mode == 1 ? GL_TRUE : GL_FALSE);
        if (mode == 1) {
            glEnable(GL_ALPHA_TEST);
            glAlphaFunc(GL_GREATER, 0.001f);
        } else {
            glDisable(GL_ALPHA_TEST);
        }
    }
    r.depth = mode;
}

void gl_cull_set(int32_t mode) {
    if (r.cull == mode) return;
    vertex_batch_flush();
    if (mode == 0) {
        glDisable(GL_CULL_FACE);
    } else {
        glFrontFace(mode == 1 ? GL_CW : GL_CCW);
        glEnable(GL_CULL_FACE);
    }
    r.cull = mode;
}

void gl_projection_set(int32_t kind) {
    if (r.projection == kind) return;
    vertex_batch_flush();
    if (kind == projection_2d || kind == projection_3d) {
        if (r.projection != projection_2d && r.projection != projection_3d) common_state_set();
        if (kind == projection_2d)
            projection_2d_set();
        else
            projection_3d_set();
    }
    r.projection = kind;
}

void gl_texture_bind(int32_t id) {
    if (id == -1) {
        r.texture = -1;
        r.texture_img = nullptr;
        return;
    }
    if (r.texture == id) return;
    vertex_batch_flush();
    hardware_img* img = hardware_img_at(id);
    if (!img) {
        r.texture = -1;
        r.texture_img = nullptr;
        return;
    }
    if (img->texture == 0) hardware_img_upload(id);
    glBindTexture(GL_TEXTURE_2D, img->texture);
    r.texture = id;
    r.texture_img = img;
    if (!fbo_supported.load()) {
        img->min_filter = -1;
        img->mag_filter = -1;
    }
}

void gl_render_target_set(int32_t target) {
    if (target == -1) {
        r.target = -1;
        r.target_img = nullptr;
        r.projection = projection_none;
        return;
    }
    if (r.target == target) return;
    vertex_batch_flush();
    if (target == 0) {
        if (fbo_supported.load()) glBindFramebufferEXT(GL_FRAMEBUFFER_EXT, 0);
        r.target_img = nullptr;
    } else {
        hardware_img* img = hardware_img_at(target);
        if (!img) return;
        if (img->texture == 0) hardware_img_upload(target);
        if (img->framebuffer == 0) {
            glGenFramebuffersEXT(1, &img->framebuffer);
            glBindFramebufferEXT(GL_FRAMEBUFFER_EXT, img->framebuffer);
            glFramebufferTexture2DEXT(GL_FRAMEBUFFER_EXT, GL_COLOR_ATTACHMENT0_EXT, GL_TEXTURE_2D, img->texture, 0);
        } else {
            glBindFramebufferEXT(GL_FRAMEBUFFER_EXT, img->framebuffer);
        }
        r.target_img = img;
    }
    r.target = target;
    r.projection = projection_none;
}

void gl_caches_forget_image(int32_t id) {
    if (r.texture == id) gl_texture_bind(-1);
    if (r.target == id) {
        vertex_batch_flush();
        gl_render_target_set(-1);
    }
}
