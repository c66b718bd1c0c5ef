#include "display/viewport.h"

#include <algorithm>
#include <cmath>
#include <mutex>

namespace {

// Other threads (mouse queries) read the viewport through a copy taken under this lock.
struct shared_viewport {
    std::mutex lock;
    viewport_record current;
};
shared_viewport shared;

constexpr float pixel_limit = 536870912.0f;

}  // namespace

int32_t pixel_of(float v) { return std::isnan(v) ? 0 : static_cast<int32_t>(std::clamp(v, -pixel_limit, pixel_limit)); }

int32_t pixel_rounded(float v) { return pixel_of(std::nearbyint(v)); }

bool viewport_of(int32_t frame_width, int32_t frame_height, int32_t window_width, int32_t window_height,
                 int32_t fullscreen_mode, int32_t fullscreen_smooth, int32_t stretch_mode, viewport_record& out) {
    if (frame_width <= 0 || frame_height <= 0 || window_width <= 0 || window_height <= 0) return false;
    bool stretch = false;
    bool keep_aspect = false;
    int32_t smooth = 0;
    if (fullscreen_mode == 1 || fullscreen_mode == 2) {
        stretch = true;
        keep_aspect = fullscreen_mode == 2;
        smooth = fullscreen_smooth;
    } else if (stretch_mode == 1 || stretch_mode == 2) {
        stretch = true;
        smooth = stretch_mode == 2;
    }
    viewport_record v;
    v.frame_width = frame_width;
    v.frame_height = frame_height;
    v.window_width = window_width;
    v.window_height = window_height;
    v.letterbox = 0;
    v.smooth = smooth;
    float frame_aspect = static_cast<float>(frame_width) / static_cast<float>(frame_height);
    float window_aspect = static_cast<float>(window_width) / static_cast<float>(window_height);
    v.x1 = 0;
    v.y1 = 0;
    if ((frame_width == window_width && frame_height == window_height) || !stretch) {
        v.x2 = frame_width - 1;
        v.y2 = frame_height - 1;
        if (frame_width == window_width && frame_height == window_height) v.smooth = 0;
    } else if (!keep_aspect || window_aspect == frame_aspect) {
        v.x2 = window_width - 1;
        v.y2 = window_height - 1;
    } else if (window_aspect > frame_aspect) {
        int32_t w = static_cast<int32_t>(static_cast<float>(window_height) * frame_aspect);
        v.x1 = window_width / 2 - w / 2;
        v.x2 = v.x1 + w - 1;
        v.y2 = window_height - 1;
        v.letterbox = 1;
    } else {
        int32_t h = static_cast<int32_t>(static_cast<float>(window_width) / frame_aspect);
        v.y1 = window_height / 2 - h / 2;
        v.y2 = v.y1 + h - 1;
        v.x2 = window_width - 1;
        v.letterbox = 2;
    }
    v.width = v.x2 - v.x1 + 1;
    v.height = v.y2 - v.y1 + 1;
    v.scale_x = static_cast<float>(v.width) / static_cast<float>(frame_width);
    v.scale_y = static_cast<float>(v.height) / static_cast<float>(frame_height);
    out = v;
    return true;
}

int32_t viewport_map_x(const viewport_record& v, float x) { return pixel_rounded(x * v.scale_x) + v.x1; }
int32_t viewport_map_y(const viewport_record& v, float y) { return pixel_rounded(y * v.scale_y) + v.y1; }
int32_t viewport_map_x_edge(const viewport_record& v, float x) { return pixel_rounded((x + 1) * v.scale_x - 1) + v.x1; }
int32_t viewport_map_y_edge(const viewport_record& v, float y) { return pixel_rounded((y + 1) * v.scale_y - 1) + v.y1; }

window_rect viewport_map_rect(const viewport_record& v, float x1, float y1, float x2, float y2) {
    window_rect out;
    out.left = pixel_rounded(x1 * v.scale_x) + v.x1;
    out.top = pixel_rounded(y1 * v.scale_y) + v.y1;
    int32_t width = pixel_of((std::fabs(x2 - x1) + 1) * v.scale_x + 0.99f);
    int32_t height = pixel_of((std::fabs(y2 - y1) + 1) * v.scale_y + 0.99f);
    out.right = out.left + width - 1;
    out.bottom = out.top + height - 1;
    return out;
}

int letterbox_bars(const viewport_record& v, window_rect bars[2]) {
    // In window pixels, so no bar reaches into the picture's first or last column or row.
    int n = 0;
    if (v.letterbox == 1) {
        if (v.x1 > 0) bars[n++] = {0, 0, v.x1 - 1, v.window_height - 1};
        if (v.x2 < v.window_width - 1) bars[n++] = {v.x2 + 1, 0, v.window_width - 1, v.window_height - 1};
    } else if (v.letterbox == 2) {
        if (v.y1 > 0) bars[n++] = {0, 0, v.window_width - 1, v.y1 - 1};
        if (v.y2 < v.window_height - 1) bars[n++] = {0, v.y2 + 1, v.window_width - 1, v.window_height - 1};
    }
    return n;
}

viewport_record viewport_get() {
    std::lock_guard<std::mutex> guard(shared.lock);
    return shared.current;
}

void viewport_publish(const viewport_record& v) {
    std::lock_guard<std::mutex> guard(shared.lock);
    shared.current = v;
}

void viewport_reset() { viewport_publish(viewport_record{}); }
