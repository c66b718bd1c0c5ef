#include "draw/flood_fill.h"

#include <emmintrin.h>

#include <algorithm>
#include <cassert>
#include <cstring>
#include <memory>
#include <vector>

#include "core/error_codes.h"
#include "core/errors.h"
#include "core/strings.h"
#include "screen/blend.h"
#include "screen/image_pool.h"
#include "screen/view.h"

namespace {

// Which neighbours an entry examines. A pixel never looks back at the one it was reached from.
enum : uint8_t {
    look_left = 1,
    look_right = 2,
    look_up = 4,
    look_down = 8,
    look_all = 15,
    reached_going_left = look_left | look_up | look_down,
    reached_going_right = look_right | look_up | look_down,
    reached_going_up = look_left | look_right | look_up,
    reached_going_down = look_left | look_right | look_down,
};

struct fill_entry {
    uint16_t x, y;
    uint8_t directions;
};

constexpr size_t list_capacity_default = 65536;
constexpr size_t visited_map_default = 640 * 480;
constexpr int32_t tile_bytes_max_4bit = 256;
constexpr int32_t tile_bytes_max = 64;
constexpr int32_t background_bytes_max = 255;

// One generation of the walk. It grows before a generation starts to what that generation can
// append (three neighbours per entry, four for the seed), so appending never checks.
struct generation_list {
    std::unique_ptr<fill_entry[]> entries;
    size_t capacity = 0;
    size_t count = 0;

    void make_room(size_t n) {
        if (n <= capacity) return;
        capacity = std::max(n, capacity * 2);
        entries = std::make_unique<fill_entry[]>(capacity);
    }
};

// A row range still to look at: row y, columns x1..x2, reached from row y - dy, whose columns
// x1 - 1..x2 + 1 are painted or stop the fill.
struct span_entry {
    uint16_t y, x1, x2;
    int8_t dy;
};

// One bit per pixel, set over every painted run; rows have a spare bit at the end that stays clear.
struct visited_bits {
    std::vector<uint64_t> words;
    size_t stride = 0;  // words a row

    void fit(size_t width, size_t height) {
        stride = width / 64 + 1;
        if (words.size() < stride * height) words.assign(stride * height, 0);
    }
    uint64_t* row(int32_t y) { return words.data() + size_t(y) * stride; }
    bool test(int32_t y, int32_t x) { return row(y)[x >> 6] >> (x & 63) & 1; }
    void set(int32_t y, int32_t x1, int32_t x2) {
        uint64_t* w = row(y);
        int32_t first = x1 >> 6, last = x2 >> 6;
        uint64_t head = ~uint64_t{0} << (x1 & 63), tail = ~uint64_t{0} >> (63 - (x2 & 63));
        if (first == last) {
            w[first] |= head & tail;
            return;
        }
        w[first] |= head;
        for (int32_t k = first + 1; k < last; ++k) w[k] = ~uint64_t{0};
        w[last] |= tail;
    }
    // The first column at or after x whose bit is clear.
    int32_t first_clear(int32_t y, int32_t x) {
        const uint64_t* w = row(y);
        size_t k = size_t(x) >> 6;
        uint64_t clear = ~w[k] >> (x & 63) << (x & 63);
        while (!clear) clear = ~w[++k];
        return static_cast<int32_t>(k * 64 + size_t(__builtin_ctzll(clear)));
    }
    void clear(int32_t y1, int32_t y2, int32_t x1, int32_t x2) {
        for (int32_t y = y1; y <= y2; ++y) std::memset(row(y) + (x1 >> 6), 0, size_t((x2 >> 6) - (x1 >> 6) + 1) * 8);
    }
};

// The lists, the visited map (1 = visited, all zero between fills), the span stack and its bits,
// kept across fills.
struct flood_fill_state {
    size_t list_capacity = list_capacity_default;
    fill_walk walk = fill_walk::spans;
    generation_list current, next;
    std::vector<uint8_t> visited;
    std::vector<span_entry> spans;
    visited_bits painted;
};
flood_fill_state fill;

// The seed after the cursor has moved to it: its pixel and the clip box cut to the image.
struct fill_seed {
    bool inside;
    int32_t x, y;
    pixel_box box;
};

fill_seed fill_seed_place(image_record* r, float x, float y, bool relative) {
    logical_point p = image_point(r, x, y, relative);
    r->cursor_x = p.x;
    r->cursor_y = p.y;
    int64_t px = image_map_x(r, p.x), py = image_map_y(r, p.y);
    pixel_box box = image_clip_box(r);
    bool inside = box.contains(px, py);
    return {inside, static_cast<int32_t>(inside ? px : 0), static_cast<int32_t>(inside ? py : 0), box};
}

// The breadth-first walk from a seed inside the box. The painter answers is_border(i) for the
// pixel at index i and paints it with paint(i, x, y); seed_stops(i, x, y) may end the fill before
// the seed is painted.
template <class Painter>
void generation_walk(const image_record* r, const fill_seed& seed, Painter& painter) {
    const size_t width = r->width;
    const size_t pixels = width * r->height;
    if (fill.visited.size() < pixels) fill.visited.assign(std::max(pixels, visited_map_default), 0);
    size_t at = seed.y * width + seed.x;
    if (painter.is_border(at) || painter.seed_stops(at, seed.x, seed.y)) return;

    uint8_t* visited = fill.visited.data();
    const int32_t left = static_cast<int32_t>(seed.box.x1), right = static_cast<int32_t>(seed.box.x2);
    const int32_t top = static_cast<int32_t>(seed.box.y1), bottom = static_cast<int32_t>(seed.box.y2);
    int32_t low_x = seed.x, high_x = seed.x, low_y = seed.y, high_y = seed.y;  // of every entry

    painter.paint(at, seed.x, seed.y);
    visited[at] = 1;
    fill.current.make_room(fill.list_capacity);
    fill.next.make_room(fill.list_capacity);
    fill.current.entries[0] = {static_cast<uint16_t>(seed.x), static_cast<uint16_t>(seed.y), look_all};
    fill.current.count = 1;

    while (fill.current.count) {
        fill.next.make_room(std::min(3 * fill.current.count + 1, pixels));
        fill_entry* out = fill.next.entries.get();
        auto reach = [&](size_t i, int32_t x, int32_t y, uint8_t directions) {
            if (visited[i]) return;
            visited[i] = 1;
            if (painter.is_border(i)) return;
            painter.paint(i, x, y);
            *out++ = {static_cast<uint16_t>(x), static_cast<uint16_t>(y), directions};
        };
        const fill_entry* end = fill.current.entries.get() + fill.current.count;
        for (const fill_entry* e = fill.current.entries.get(); e != end; ++e) {
            int32_t x = e->x, y = e->y;
            size_t i = y * width + x;
            low_x = std::min(low_x, x), high_x = std::max(high_x, x);
            low_y = std::min(low_y, y), high_y = std::max(high_y, y);
            if ((e->directions & look_left) && x - 1 >= left) reach(i - 1, x - 1, y, reached_going_left);
            if ((e->directions & look_right) && x + 1 <= right) reach(i + 1, x + 1, y, reached_going_right);
            if ((e->directions & look_up) && y - 1 >= top) reach(i - width, x, y - 1, reached_going_up);
            if ((e->directions & look_down) && y + 1 <= bottom) reach(i + width, x, y + 1, reached_going_down);
        }
        fill.next.count = static_cast<size_t>(out - fill.next.entries.get());
        std::swap(fill.current, fill.next);
    }

    // Visited pixels lie within one pixel of an entry: clear that rectangle only, not the image.
    low_x = std::max(low_x - 1, left), high_x = std::min(high_x + 1, right);
    low_y = std::max(low_y - 1, top), high_y = std::min(high_y + 1, bottom);
    for (int32_t y = low_y; y <= high_y; ++y) std::memset(visited + y * width + low_x, 0, size_t(high_x - low_x + 1));
}

// The same pixels by whole row runs, for painters whose paint of a pixel depends only on its own
// value before the fill: a pixel is read before it is painted and painted once, so the picture
// does not depend on the order. The painter also answers open_from(i, n) and open_before(i, n),
// the pixels from i on and before i that are not the border (at most n), and paints runs with
// paint_run(i, n). Every painted run reaches from border to border (or the box), so one bit tells
// whether a run was painted.
template <class Painter>
void span_walk(const image_record* r, const fill_seed& seed, Painter& painter) {
    const size_t width = r->width;
    size_t at = seed.y * width + seed.x;
    if (painter.is_border(at)) return;
    const int32_t left = static_cast<int32_t>(seed.box.x1), right = static_cast<int32_t>(seed.box.x2);
    const int32_t top = static_cast<int32_t>(seed.box.y1), bottom = static_cast<int32_t>(seed.box.y2);
    int32_t low_x = seed.x, high_x = seed.x, low_y = seed.y, high_y = seed.y;  // of every run
    visited_bits& painted = fill.painted;
    painted.fit(width, r->height);
    std::vector<span_entry>& spans = fill.spans;
    spans.clear();

    auto push = [&](int32_t y, int32_t x1, int32_t x2, int32_t dy) {
        if (y < top || y > bottom || x1 > x2) return;
        spans.push_back({static_cast<uint16_t>(y), static_cast<uint16_t>(x1), static_cast<uint16_t>(x2),
                         static_cast<int8_t>(dy)});
    };
    // Paints the run through x on row y, x not painted and not the border; it reaches left of x
    // only when asked (else x - 1 stops the fill). Returns the run's last column.
    auto paint_run = [&](int32_t y, int32_t x, bool reach_left) {
        size_t row = size_t(y) * width;
        int32_t l = x - (reach_left ? static_cast<int32_t>(painter.open_before(row + x, size_t(x - left))) : 0);
        int32_t rr = x + static_cast<int32_t>(painter.open_from(row + x + 1, size_t(right - x)));
        painter.paint_run(row + l, size_t(rr - l + 1));
        painted.set(y, l, rr);
        low_x = std::min(low_x, l), high_x = std::max(high_x, rr);
        low_y = std::min(low_y, y), high_y = std::max(high_y, y);
        return std::pair{l, rr};
    };

    auto [l, rr] = paint_run(seed.y, seed.x, true);
    push(seed.y - 1, l, rr, -1);
    push(seed.y + 1, l, rr, 1);
    while (!spans.empty()) {
        span_entry e = spans.back();
        spans.pop_back();
        int32_t y = e.y, x1 = e.x1, x2 = e.x2, dy = e.dy;
        size_t row = size_t(y) * width;
        for (int32_t x = x1; x <= x2;) {
            if (painter.is_border(row + x)) {
                ++x;
            } else if (painted.test(y, x)) {
                x = painted.first_clear(y, x) + 1;  // past the run and the pixel that ended it
            } else {
                auto [a, b] = paint_run(y, x, x == x1);
                push(y + dy, a, b, dy);
                // Back towards the row it came from, only beyond that row's columns x1 - 1..x2 + 1.
                push(y - dy, a, x1 - 2, -dy);
                push(y - dy, x2 + 2, b, -dy);
                x = b + 2;
            }
        }
    }
    painted.clear(low_y, high_y, low_x, high_x);
}

// Whether any of the eight 32-bit pixels from p equals b in every lane.
inline bool any_equal_8(const uint32_t* p, __m128i b) {
    __m128i low = _mm_loadu_si128(reinterpret_cast<const __m128i*>(p));
    __m128i high = _mm_loadu_si128(reinterpret_cast<const __m128i*>(p + 4));
    return _mm_movemask_epi8(_mm_or_si128(_mm_cmpeq_epi32(low, b), _mm_cmpeq_epi32(high, b))) != 0;
}

// The pixels from p on (or before p, going left) up to the first of the border colour, at most n.
template <class Pixel>
size_t open_run_from(const Pixel* p, size_t n, Pixel border) {
    if constexpr (sizeof(Pixel) == 1) {
        const void* hit = std::memchr(p, border, n);
        return hit ? size_t(static_cast<const Pixel*>(hit) - p) : n;
    } else {
        size_t k = 0;
        for (const __m128i b = _mm_set1_epi32(int32_t(border)); k + 8 <= n && !any_equal_8(p + k, b);) k += 8;
        while (k < n && p[k] != border) ++k;
        return k;
    }
}
template <class Pixel>
size_t open_run_before(const Pixel* p, size_t n, Pixel border) {
    if constexpr (sizeof(Pixel) == 1) {
        const void* hit = memrchr(p - n, border, n);
        return hit ? size_t(p - 1 - static_cast<const Pixel*>(hit)) : n;
    } else {
        size_t k = 0;
        for (const __m128i b = _mm_set1_epi32(int32_t(border)); k + 8 <= n && !any_equal_8(p - k - 8, b);) k += 8;
        while (k < n && p[-ptrdiff_t(k + 1)] != border) ++k;
        return k;
    }
}

struct never_stops {
    bool seed_stops(size_t, int32_t, int32_t) const { return false; }
};

// A one-colour fill: the border test, and the runs up to the border for the row-run walk.
template <class Pixel>
struct solid_painter : never_stops {
    using pixel = Pixel;
    Pixel* pixels;
    Pixel colour, border;
    bool is_border(size_t i) const { return pixels[i] == border; }
    size_t open_from(size_t i, size_t n) const { return open_run_from(pixels + i, n, border); }
    size_t open_before(size_t i, size_t n) const { return open_run_before(pixels + i, n, border); }
};

// Palette pixels (uint8_t) and 32-bit pixels without blending take the colour as it is.
template <class Pixel>
struct store_painter : solid_painter<Pixel> {
    void paint(size_t i, int32_t, int32_t) const { this->pixels[i] = this->colour; }
    void paint_run(size_t i, size_t n) const { std::fill_n(this->pixels + i, n, this->colour); }
};

struct blend_painter : solid_painter<uint32_t> {
    void paint(size_t i, int32_t, int32_t) const { pixels[i] = blend_pixel(pixels[i], colour); }
    void paint_run(size_t i, size_t n) const { blend_span_color(pixels + i, static_cast<int32_t>(n), colour); }
};

struct tile_painter {
    uint8_t* pixels;
    uint8_t border;
    int32_t background;
    const tile_pattern& tile;
    uint8_t at(int32_t x, int32_t y) const { return tile.pixel[y % tile.tile_height][x % tile.tile_width]; }
    bool is_border(size_t i) const { return pixels[i] == border; }
    // A seed already showing its tile pixel stops, unless that pixel is the background.
    bool seed_stops(size_t i, int32_t x, int32_t y) const { return pixels[i] == at(x, y) && at(x, y) != background; }
    void paint(size_t i, int32_t x, int32_t y) const { pixels[i] = at(x, y); }
};

// The paint colour (else the foreground) and the border colour (else the paint colour).
struct fill_colours {
    uint32_t paint, border;
};
fill_colours fill_colours_of(const image_record* r, uint32_t paint, uint32_t border, uint32_t flags) {
    uint32_t colour = flags & fill_paint_given ? paint : static_cast<uint32_t>(r->fore_color);
    return {colour, flags & fill_border_given ? border : colour};
}

// A fill with one colour up to one border colour; the paint colour becomes draw_color.
template <class Painter>
void fill_solid(image_record* r, float x, float y, fill_colours c, uint32_t flags) {
    using pixel = typename Painter::pixel;
    r->draw_color = c.paint;
    fill_seed seed = fill_seed_place(r, x, y, flags & fill_relative);
    if (!seed.inside) return;
    Painter painter;
    painter.pixels = reinterpret_cast<pixel*>(r->pixels);
    painter.colour = static_cast<pixel>(c.paint);
    painter.border = static_cast<pixel>(c.border);
    if (fill.walk == fill_walk::spans) span_walk(r, seed, painter);
    else generation_walk(r, seed, painter);
}

// The 32-bit fills: no masking.
template <class Painter>
void fill_32(float x, float y, uint32_t paint, uint32_t border, uint32_t flags) {
    image_record* r = dest_image;
    assert(r->bytes_per_pixel == 4);
    fill_solid<Painter>(r, x, y, fill_colours_of(r, paint, border, flags), flags);
}

}  // namespace

void paint_fill(float x, float y, uint32_t paint, uint32_t border, string_descriptor*, uint32_t flags) {
    if (error_pending()) return;
    image_record* r = dest_image;
    if (r->is_text || (flags & fill_tile_given)) {
        error_raise(error_illegal_function_call);
        return;
    }
    if (r->bytes_per_pixel == 4) {
        if (r->blend_off) paint_fill_32_store(x, y, paint, border, flags);
        else paint_fill_32_blend(x, y, paint, border, flags);
        return;
    }
    fill_colours c = fill_colours_of(r, paint, border, flags);
    fill_solid<store_painter<uint8_t>>(r, x, y, {c.paint & r->color_mask, c.border & r->color_mask}, flags);
}

void paint_fill_32_blend(float x, float y, uint32_t paint, uint32_t border, uint32_t flags) {
    fill_32<blend_painter>(x, y, paint, border, flags);
}

void paint_fill_32_store(float x, float y, uint32_t paint, uint32_t border, uint32_t flags) {
    fill_32<store_painter<uint32_t>>(x, y, paint, border, flags);
}

tile_pattern tile_pattern_decode(const uint8_t* tile, int32_t length, int32_t bits) {
    uint8_t bytes[tile_bytes_max_4bit] = {};
    std::memcpy(bytes, tile, size_t(std::clamp(length, 0, tile_bytes_max_4bit)));
    tile_pattern p{};
    p.tile_width = bits == 8 ? 1 : bits == 2 ? 4 : 8;
    p.tile_height = bits == 4 ? (length + 3) / 4 : length;
    for (int32_t r = 0; r < p.tile_height; ++r) {
        for (int32_t c = 0; c < p.tile_width; ++c) {
            uint8_t& v = p.pixel[r][c];
            switch (bits) {
                case 1: v = bytes[r] >> (7 - c) & 1; break;
                case 2: v = bytes[r] >> (6 - 2 * c) & 3; break;
                case 4:
                    for (int32_t k = 0; k < 4; ++k) v |= uint8_t((bytes[4 * r + k] >> (7 - c) & 1) << k);
                    break;
                default: v = bytes[r]; break;
            }
        }
    }
    return p;
}

int32_t tile_background_value(const uint8_t* background, int32_t length, int32_t bits) {
    uint8_t first = background[0];
    switch (bits) {
        case 1: return first == 0 ? 0 : first == 255 ? 1 : -1;
        case 2: {
            uint8_t group = first & 3;
            return first == group * 0x55 ? group : -1;
        }
        case 4: {
            int32_t value = 0;
            for (int32_t k = 0; k < 4; ++k) {
                uint8_t b = k < length ? background[k] : 0;
                if (b != 0 && b != 255) return -1;
                value |= (b & 1) << k;
            }
            return value;
        }
        default: return first;
    }
}

void paint_tiled(float x, float y, string_descriptor* tile, uint32_t border, string_descriptor* background,
                 uint32_t flags) {
    if (error_pending()) return;
    image_record* r = dest_image;
    int32_t bits = r->bits_per_pixel;
    int32_t tile_max = bits == 4 ? tile_bytes_max_4bit : tile_bytes_max;
    bool bad_tile = !(flags & tiled_tile_given) || !tile || tile->length < 1 || tile->length > tile_max;
    bool bad_background = (flags & tiled_background_given) &&
                          (!background || background->length < 1 || background->length > background_bytes_max);
    if (r->is_text || r->bytes_per_pixel != 1 || bad_tile || bad_background) {
        error_raise(error_illegal_function_call);
        return;
    }
    tile_pattern pattern = tile_pattern_decode(tile->text, tile->length, bits);
    int32_t bg = flags & tiled_background_given ? tile_background_value(background->text, background->length, bits) : 0;
    uint32_t stop = (flags & tiled_border_given ? border : static_cast<uint32_t>(r->fore_color)) & r->color_mask;
    fill_seed seed = fill_seed_place(r, x, y, flags & tiled_relative);
    if (!seed.inside) return;
    tile_painter painter{r->pixels, static_cast<uint8_t>(stop), bg, pattern};
    generation_walk(r, seed, painter);
}

void flood_fill_reset(size_t list_capacity, fill_walk walk) {
    fill = flood_fill_state{};
    fill.list_capacity = std::max<size_t>(list_capacity, 1);
    fill.walk = walk;
    fill.spans.reserve(fill.list_capacity);
}
