#include "draw/triangle_map.h"

#include <algorithm>
#include <cmath>
#include <cstdlib>
#include <utility>

#include "core/error_codes.h"
#include "core/errors.h"
#include "core/maths.h"
#include "draw/hardware_drawing.h"
#include "draw/triangle_rows.h"
#include "screen/image_pool.h"

namespace {

constexpr int64_t one = 65536;
constexpr int64_t centre = 32768;
// Destination coordinates after rounding, and source coordinates in 16.16, lie within these, so
// that every difference of two of them fits in 32 bits.
constexpr int32_t dest_limit = 0x3FFF;
constexpr int64_t source_limit = 16383 * one + 0x7FA6;
// A source value this close to an edge of the source may reach past it: the sampling wraps.
constexpr int64_t wrap_margin = 16;
constexpr int64_t wrapped_limit = INT32_MAX;

struct vertex {
    int64_t x;     // 16.16, at the centre of the pixel
    int64_t y;     // row
    int64_t u, v;  // 16.16
};

struct edge : edge_walk {
    int64_t top = 0, bottom = 0;
    const vertex* top_vertex = nullptr;
    const vertex* bottom_vertex = nullptr;

    // Moves the edge n rows down exactly, from its end vertices.
    void move(int64_t n) {
        int64_t rows = bottom_vertex->y - top_vertex->y;
        if (rows == 0) return;
        x += (bottom_vertex->x - top_vertex->x) * n / rows;
        u += (bottom_vertex->u - top_vertex->u) * n / rows;
        v += (bottom_vertex->v - top_vertex->v) * n / rows;
    }
};

// trunc(c * 65536) + 32768, tested against the limits before any conversion; false outside them
// (NaN included). A float times 65536 is exact in double precision, as in extended.
bool fixed_of(float c, int64_t& out) {
    double p = static_cast<double>(c) * one;
    // trunc(p) lies within the limits less the centre exactly when p does, widened by one below 1.
    if (!(p > static_cast<double>(-source_limit - centre - 1) && p < static_cast<double>(source_limit - centre + 1)))
        return false;
    out = static_cast<int64_t>(p) + centre;
    return true;
}

bool near_edge(int64_t value, int64_t size16) { return value <= wrap_margin - 1 || value >= size16 - wrap_margin; }

// Moves the three values by whole source sizes so that the smallest lies in 0..size16-1.
bool wrap_axis(int64_t& a, int64_t& b, int64_t& c, int64_t size16) {
    int64_t smallest = std::min({a, b, c});
    int64_t shift = 0;
    if (smallest < 0) shift = ((smallest + 1) / -size16 + 1) * size16;
    else if (smallest >= size16) shift = -(smallest / size16) * size16;
    a += shift;
    b += shift;
    c += shift;
    return shift != 0;
}

image_record* side_of(int32_t handle, bool given, image_record* fallback) {
    return given ? image_handle_record(handle) : fallback;
}

struct triangle {
    vertex vertices[3];
    edge edges[3];
    int32_t left = 0, right = 1, waiting = 2;
    bool one_segment = false;
};

void edges_make(triangle& t) {
    int32_t horizontal = 0, last_horizontal = 0;
    for (int32_t i = 0; i < 3; ++i) {
        const vertex& a = t.vertices[i];
        const vertex& b = t.vertices[(i + 1) % 3];
        const vertex& top = b.y < a.y ? b : a;
        const vertex& bottom = b.y < a.y ? a : b;
        edge& e = t.edges[i];
        e = edge{};
        e.x = top.x, e.u = top.u, e.v = top.v;
        e.top = top.y, e.bottom = bottom.y;
        e.top_vertex = &top, e.bottom_vertex = &bottom;
        int64_t h = bottom.y - top.y;
        if (h > 0) {
            e.dx = (bottom.x - top.x) / h;
            e.du = (bottom.u - top.u) / h;
            e.dv = (bottom.v - top.v) / h;
        } else {
            ++horizontal;
            last_horizontal = i;
        }
    }
    if (horizontal == 0) {
        if (t.edges[t.waiting].top < t.edges[t.left].top) std::swap(t.waiting, t.left);
        if (t.edges[t.waiting].top < t.edges[t.right].top) std::swap(t.waiting, t.right);
    } else if (horizontal == 1) {
        if (last_horizontal == 0) std::swap(t.left, t.waiting);
        else if (last_horizontal == 1) std::swap(t.right, t.waiting);
        t.one_segment = true;
    } else {
        // One row: from the vertex with the smallest x to the one with the largest (later on ties).
        int32_t lo = 0, hi = 0;
        for (int32_t i = 1; i < 3; ++i) {
            if (t.vertices[i].x <= t.vertices[lo].x) lo = i;
            if (t.vertices[i].x >= t.vertices[hi].x) hi = i;
        }
        edge& l = t.edges[t.left];
        edge& r = t.edges[t.right];
        l.x = t.vertices[lo].x, l.u = t.vertices[lo].u, l.v = t.vertices[lo].v;
        r.x = t.vertices[hi].x, r.u = t.vertices[hi].u, r.v = t.vertices[hi].v;
        t.one_segment = true;
    }
    // The left edge is the one on the left at half the first segment's height.
    const edge& l = t.edges[t.left];
    const edge& r = t.edges[t.right];
    int64_t h = std::min(l.bottom, r.bottom) - l.top;
    if (l.x + l.dx * h / 2 > r.x + r.dx * h / 2) std::swap(t.left, t.right);
}

void segments_draw(triangle& t, const triangle_painter& p, int64_t dh) {
    int64_t start = t.edges[t.left].top;
    int64_t end = std::min(t.edges[t.left].bottom, t.edges[t.right].bottom);
    bool last = t.one_segment;
    for (;;) {
        if (last && p.seamless) --end;
        if (start >= dh) return;
        edge& l = t.edges[t.left];
        edge& r = t.edges[t.right];
        if (end < 0) {
            if (last) return;
            l.move(end - start);
            r.move(end - start);
        } else {
            if (start < 0) {
                l.move(-start);
                r.move(-start);
                start = 0;
            }
            end = std::min(end, dh - 1);
            triangle_rows_draw(p, start, end, l, r);
            if (last) return;
        }
        if (end >= dh - 1) return;
        // The edge that ends first gives way to the waiting one (the right edge on a tie).
        edge& waiting = t.edges[t.waiting];
        if (l.bottom < r.bottom) t.left = t.waiting;
        else t.right = t.waiting;
        start = waiting.top + 1;
        end = waiting.bottom;
        t.edges[t.left].advance();
        t.edges[t.right].advance();
        last = true;
    }
}

// Source coordinates to 16.16, wrapped when they reach the source's edges; false with error 5.
bool source_vertices(triangle& t, const float sx[3], const float sy[3], int64_t sw16, int64_t sh16, bool& wrap) {
    wrap = false;
    for (int32_t i = 0; i < 3; ++i) {
        if (!fixed_of(sx[i], t.vertices[i].u)) return false;
        wrap = wrap || near_edge(t.vertices[i].u, sw16);
    }
    for (int32_t i = 0; i < 3; ++i) {
        if (!fixed_of(sy[i], t.vertices[i].v)) return false;
        wrap = wrap || near_edge(t.vertices[i].v, sh16);
    }
    if (!wrap) return true;
    vertex* v = t.vertices;
    bool moved = wrap_axis(v[0].u, v[1].u, v[2].u, sw16);
    moved = wrap_axis(v[0].v, v[1].v, v[2].v, sh16) || moved;
    if (moved) {
        bool clear = true;
        for (const vertex& w : t.vertices) clear = clear && !near_edge(w.u, sw16) && !near_edge(w.v, sh16);
        wrap = !clear;
    }
    // A triangle wider than 32 bits after the move is refused.
    for (const vertex& w : t.vertices)
        if (w.u > wrapped_limit || w.v > wrapped_limit) return false;
    return true;
}

void triangle_map_software(const float sx[3], const float sy[3], int32_t source, const float dx[3],
                           const float dy[3], int32_t destination, int32_t flags) {
    if (flags & triangle_3d_bits) {
        error_raise(error_illegal_function_call);
        return;
    }
    int32_t x[3], y[3];
    for (int32_t i = 0; i < 3; ++i) {
        x[i] = float_to_int32(dx[i]);
        y[i] = float_to_int32(dy[i]);
    }
    image_record* from = side_of(source, flags & triangle_source_given, source_image);
    if (!from) return;
    image_record* to = side_of(destination, flags & triangle_dest_given, dest_image);
    if (!to) return;
    if (from->is_text || to->is_text || from->bytes_per_pixel != to->bytes_per_pixel) {
        error_raise(error_illegal_function_call);
        return;
    }
    triangle t;
    bool wrap = false;
    if (!source_vertices(t, sx, sy, int64_t{from->width} * one, int64_t{from->height} * one, wrap)) {
        error_raise(error_illegal_function_call);
        return;
    }
    for (int32_t i = 0; i < 3; ++i)
        if (std::abs(int64_t{x[i]}) > dest_limit || std::abs(int64_t{y[i]}) > dest_limit) {
            error_raise(error_illegal_function_call);
            return;
        }
    const int64_t dw = to->width, dh = to->height;
    for (int32_t i = 0; i < 3; ++i) {
        t.vertices[i].x = int64_t{x[i]} * one + centre;
        t.vertices[i].y = y[i];
    }
    auto [low_row, high_row] = std::minmax({y[0], y[1], y[2]});
    auto [low_column, high_column] = std::minmax({x[0], x[1], x[2]});
    if (high_row < 0 || low_row >= dh || high_column < 0 || low_column >= dw) return;
    edges_make(t);
    segments_draw(t, triangle_painter_make(to, from, wrap, flags & triangle_seamless), dh);
}

}  // namespace

void triangle_map(int32_t cull, float sx1, float sy1, float sx2, float sy2, float sx3, float sy3, int32_t source,
                  float dx1, float dy1, float dz1, float dx2, float dy2, float dz2, float dx3, float dy3, float dz3,
                  int32_t destination, int32_t smooth, int32_t flags) {
    if (error_pending()) return;
    hardware_source hardware = hardware_source_of(source);
    if (hardware.refused) return;
    if (hardware.hardware) {
        triangle_map_hardware(cull, sx1, sy1, sx2, sy2, sx3, sy3, hardware, dx1, dy1, dz1, dx2, dy2, dz2, dx3, dy3,
                              dz3, destination, smooth, flags);
        return;
    }
    const float sx[3] = {sx1, sx2, sx3}, sy[3] = {sy1, sy2, sy3};
    const float dx[3] = {dx1, dx2, dx3}, dy[3] = {dy1, dy2, dy3};
    triangle_map_software(sx, sy, source, dx, dy, destination, flags);
}
