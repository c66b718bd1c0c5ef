#include "draw/copy_rows.h"

#include <algorithm>
#include <cstring>
#include <vector>

#include "draw/image_copy.h"
#include "platform/vector_level.h"
#include "screen/blend.h"
#include "screen/blend_samples_v4.h"
#include "screen/image_pool.h"

// The vector helpers of blend_lanes.h are always inlined, so the baseline ABI of their 32-byte
// vectors never applies.
#pragma GCC diagnostic ignored "-Wpsabi"

namespace {

// The row loops: n source pixels onto n destination pixels. A transfer that `overwrites` writes
// every destination pixel from its source pixel alone (pixel() gives it), so scattered source
// pixels go straight to the destination and a row equal in its source to the one before is copied
// from it; the others take their source pixels gathered into a row first.
struct store_32 {
    static constexpr bool overwrites = true;
    static uint32_t pixel(uint32_t s) { return s; }
    void operator()(uint32_t* d, const uint32_t* s, int64_t n) const { std::memmove(d, s, size_t(n) * 4); }
};
// Resampled rows blend through columns when it is not null.
struct blend_32 {
    static constexpr bool overwrites = false;
    columns_blend columns;
    void operator()(uint32_t* d, const uint32_t* s, int64_t n) const { blend_span(d, s, static_cast<int32_t>(n)); }
};
struct copy_8 {
    static constexpr bool overwrites = true;
    static uint8_t pixel(uint8_t s) { return s; }
    void operator()(uint8_t* d, const uint8_t* s, int64_t n) const { std::memmove(d, s, size_t(n)); }
};
struct copy_8_clear {
    static constexpr bool overwrites = false;
    uint8_t clear;
    void operator()(uint8_t* d, const uint8_t* s, int64_t n) const {
        for (int64_t i = 0; i < n; ++i)
            if (s[i] != clear) d[i] = s[i];
    }
};
// Palette entries are stored opaque: entries written as VGA levels carry alpha 0 and would vanish
// from a later blended copy.
struct palette_32 {
    static constexpr bool overwrites = true;
    const uint32_t* colours;
    uint32_t pixel(uint8_t s) const { return colours[s]; }
    void operator()(uint32_t* d, const uint8_t* s, int64_t n) const {
        for (int64_t i = 0; i < n; ++i) d[i] = colours[s[i]];
    }
};
struct palette_32_clear {
    static constexpr bool overwrites = false;
    const uint32_t* colours;
    uint8_t clear;
    void operator()(uint32_t* d, const uint8_t* s, int64_t n) const {
        for (int64_t i = 0; i < n; ++i)
            if (s[i] != clear) d[i] = colours[s[i]];
    }
};

template <class T>
T* row_of(const image_record* r, int64_t y) {
    return reinterpret_cast<T*>(r->pixels + size_t(y) * r->width * r->bytes_per_pixel);
}

// Source pixels of one row through the column table, handed to put(i, pixel). A resampled row's
// columns skip through memory to a row the processor's own prefetch does not foresee, so the row
// after (ahead, when there is one) is asked for along the way, a few columns at a time; when it
// is the same row (scaling up), the asking still helps the row's own loads along.
template <class Source, class Put>
void columns_take(const Source* in, const Source* ahead, const int32_t* column, int64_t n, const Put& put) {
    constexpr int64_t columns_per_prefetch = 4;
    for (int64_t i = 0; i < n; i += columns_per_prefetch) {
        if (ahead) __builtin_prefetch(ahead + column[i]);
        const int64_t end = std::min(n, i + columns_per_prefetch);
        for (int64_t k = i; k < end; ++k) put(k, in[column[k]]);
    }
}

#if defined(__x86_64__)
// Each step asks for the row after as columns_take does, a few columns at a time.
[[gnu::target("arch=x86-64-v4")]] void columns_blend_v4(uint32_t* out, const uint32_t* in, const uint32_t* ahead,
                                                         const int32_t* column, int64_t n) {
    using namespace blend_lanes_detail;
    constexpr int64_t columns_per_prefetch = 4;
    static_assert(columns_blend_padding == lanes - 1);
    samples_blend_masked(out, n, [&](int64_t i, int64_t, uint32_t* s) __attribute__((always_inline)) {
        if (ahead)
            for (int64_t k = 0; k < lanes; k += columns_per_prefetch) __builtin_prefetch(ahead + column[i + k]);
        for (int32_t k = 0; k < lanes; ++k) s[k] = in[column[i + k]];
    });
}
#endif

// The transfers that may blend a resampled row through a column blend.
template <class Op>
constexpr bool has_columns_blend = requires(const Op& op) { op.columns; };

// How the source pixels of one row are found along x: in place, reversed, or through a table.
enum class x_walk { direct, reversed, table };

template <class Source, class Dest, class Op>
void rows_run(image_record* dest, const image_record* source, const copy_axis& x, const copy_axis& y, const Op& op) {
    const int64_t n = x.d2 - x.d1 + 1;
    const x_walk walk = x.resampled ? x_walk::table : x.direction < 0 ? x_walk::reversed : x_walk::direct;
    // Source columns fit 32 bits: images are at most 65535 pixels wide.
    std::vector<int32_t> columns;
    if (walk == x_walk::table) {
        columns.resize(size_t(n + columns_blend_padding));
        for (int64_t i = 0; i < n; ++i) columns[size_t(i)] = static_cast<int32_t>(x.source_of(i));
        std::fill(columns.begin() + n, columns.end(), columns[size_t(n - 1)]);
    }
    std::vector<Source> gathered;
    if (!Op::overwrites && walk != x_walk::direct) gathered.resize(size_t(n));
    const int32_t* column = columns.data();
    const int64_t first = x.source_of(0);
    int64_t previous_row = -1, gathered_row = -1;
    for (int64_t dy = y.d1; dy <= y.d2; ++dy) {
        Dest* out = row_of<Dest>(dest, dy) + x.d1;
        const int64_t sy = y.source_of(dy - y.d1);
        if (Op::overwrites && sy == previous_row) {
            std::memcpy(out, row_of<Dest>(dest, dy - 1) + x.d1, size_t(n) * sizeof(Dest));
            continue;
        }
        previous_row = sy;
        const Source* in = row_of<const Source>(source, sy);
        const Source* ahead =
            walk == x_walk::table && dy < y.d2 ? row_of<const Source>(source, y.source_of(dy + 1 - y.d1)) : nullptr;
        if (walk == x_walk::direct) {
            op(out, in + first, n);
        } else if constexpr (Op::overwrites) {
            if (walk == x_walk::reversed)
                for (int64_t i = 0; i < n; ++i) out[i] = op.pixel(in[first - i]);
            else
                columns_take(in, ahead, column, n, [&](int64_t i, Source s) { out[i] = op.pixel(s); });
        } else {
            if constexpr (has_columns_blend<Op>) {
                if (walk == x_walk::table && op.columns) {
                    op.columns(out, in, ahead, column, n);
                    continue;
                }
            }
            // A source row gathered for the row before serves again.
            Source* row = gathered.data();
            if (sy != gathered_row) {
                if (walk == x_walk::reversed)
                    for (int64_t i = 0; i < n; ++i) row[i] = in[first - i];
                else
                    columns_take(in, ahead, column, n, [&](int64_t i, Source s) { row[i] = s; });
                gathered_row = sy;
            }
            op(out, row, n);
        }
    }
}

}  // namespace

columns_blend columns_blend_of_cpu() {
#if defined(__x86_64__)
    if (vector_level_of_cpu() == vector_level::x86_64_v4) return columns_blend_v4;
#endif
    return nullptr;
}

void copy_rows_transfer(image_record* dest, const image_record* source, const copy_axis& x, const copy_axis& y,
                        columns_blend columns) {
    // A transparent colour beyond 255 matches no index.
    const bool clear = source->clear_color >= 0 && source->clear_color <= 255;
    const auto clear_index = static_cast<uint8_t>(source->clear_color);
    if (source->bytes_per_pixel == 4) {
        if (source->blend_off || dest->blend_off) rows_run<uint32_t, uint32_t>(dest, source, x, y, store_32{});
        else rows_run<uint32_t, uint32_t>(dest, source, x, y, blend_32{columns});
        return;
    }
    if (dest->bytes_per_pixel == 1) {
        if (clear) rows_run<uint8_t, uint8_t>(dest, source, x, y, copy_8_clear{clear_index});
        else rows_run<uint8_t, uint8_t>(dest, source, x, y, copy_8{});
        return;
    }
    uint32_t colours[256];
    for (int i = 0; i < 256; ++i) colours[i] = (source->palette ? source->palette[i] : 0) | 0xFF000000;
    if (clear) rows_run<uint8_t, uint32_t>(dest, source, x, y, palette_32_clear{colours, clear_index});
    else rows_run<uint8_t, uint32_t>(dest, source, x, y, palette_32{colours});
}
