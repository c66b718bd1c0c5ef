// The outline of a circle or ellipse in pixels: the first quadrant walked by turning a unit vector
// in n equal steps (one sine and cosine per outline), thinned to the offsets that keep it
// connected, and mirrored into the four quadrants; a mirrored pixel is written when its
// accumulated angle lies in the arc and it lies in the clip box. Not here: the statement's
// arguments, the aspect and the radius lines (circles.h).
#pragma once

#include <cstdint>

#include "screen/view.h"

struct image_record;

// The angles an arc covers; an inverted arc covers those outside [start, end].
struct arc_range {
    double start, end;
    bool inverted;
    bool contains(double a) const { return inverted ? (a <= start || a >= end) : (start <= a && a <= end); }
};

struct circle_outline {
    int64_t cx, cy;  // the centre pixel
    double rx, ry;   // the radii in pixels
    int64_t n;       // steps per quadrant
    arc_range arc;
    bool whole;  // a whole circle: every angle passes
    uint32_t colour;
    pixel_box box;  // the clip box cut to the image
};

// Writes the outline into a palette or 32-bit image; an image of text cells is left alone.
void circle_outline_draw(image_record* image, const circle_outline& o);
