// The image copy statement: a rectangle of one image onto a rectangle of another, one to one or
// resampled (nearest pixel), mirrored by reversed corners, clipped to both images, stored, blended
// or expanded through the source's palette. A hardware source is not copied here: a rectangle
// command is queued for the renderer. The row transfers are copy_rows.h.
#pragma once

#include <cstdint>

enum : int32_t {
    copy_dest_first = 0x1,               // (dx1, dy1) given
    copy_dest_first_relative = 0x2,      // the destination's graphics cursor is added to it
    copy_dest_second = 0x4,              // (dx2, dy2) given
    copy_source_given = 0x8,             // a source handle is given, else source_image
    copy_dest_second_relative = 0x10,    // (dx1, dy1) is added to (dx2, dy2)
    copy_dest_given = 0x20,              // a destination handle is given, else dest_image
    copy_source_first = 0x40,            // (sx1, sy1) given
    copy_smooth = 0x80,                  // the renderer filters a scaled texture (hardware only)
    copy_source_first_relative = 0x100,  // the source's graphics cursor is added to (sx1, sy1)
    copy_source_second = 0x200,          // (sx2, sy2) given
    copy_source_second_relative = 0x400, // (sx1, sy1) is added to (sx2, sy2)
};

// Coordinates are logical coordinates of their images; returns at once while an error is pending.
void image_rect_copy(double dx1, double dy1, double dx2, double dy2, int32_t source, int32_t destination, double sx1,
                     double sy1, double sx2, double sy2, int32_t flags);

// The corners of both rectangles in pixels.
struct copy_corners {
    int64_t dx1, dy1, dx2, dy2;
    int64_t sx1, sy1, sx2, sy2;
};
enum class copy_transfer { refused, one_to_one, resampled };
// Fills in the missing corners by the flags (second corners and first corners given) and decides
// the transfer; refused when a first source corner comes without either second corner.
copy_transfer copy_defaults_apply(copy_corners& c, int32_t flags, int64_t dw, int64_t dh, int64_t sw, int64_t sh);

// One axis of a copy after mirroring, sorting and clipping: destination pixels d1..d2 (empty when
// d1 > d2) and the source pixel of each.
struct copy_axis {
    int64_t d1 = 0, d2 = -1;
    bool resampled = false;
    int64_t start = 0, direction = 1;  // one to one: source = start + direction * offset
    double a = 0, step = 0;            // resampled: the k-th sample lies at a + k * step
    bool mirrored = false;             // resampled: samples are laid from d2 downwards
    int64_t source_size = 0;
    bool empty() const { return d1 > d2; }
    // The source pixel of destination pixel d1 + offset; always inside the source.
    int64_t source_of(int64_t offset) const;
};
// Destination corners d1, d2 and source corners s1, s2 in the caller's order, the sizes of both
// images along the axis.
copy_axis copy_axis_one_to_one(int64_t d1, int64_t d2, int64_t s1, int64_t s2, int64_t dest_size,
                               int64_t source_size);
copy_axis copy_axis_resampled(int64_t d1, int64_t d2, int64_t s1, int64_t s2, int64_t dest_size,
                              int64_t source_size);

// Tests: the graphics cursors that hardware sources and hardware destinations share.
void image_copy_reset();
