// Circles, ellipses and arcs on the destination image. The outline of one quadrant comes from a
// unit vector turned in equal steps (one sine and cosine per circle), thinned to the pixels that
// keep it connected and mirrored into the four quadrants; an arc keeps the mirrored points whose
// accumulated angle lies in it (circle_outline.h). Radius lines are solid lines (lines.h).
// Program thread only.
#pragma once

#include <cstdint>

// Flags of circle_draw.
enum : uint32_t {
    circle_relative = 0x1,  // the centre is added to the graphics cursor
    circle_colour_given = 0x2,
    circle_start_given = 0x4,
    circle_end_given = 0x8,
    circle_aspect_given = 0x10,  // else the pixel aspect of the mode
};

// Angles in radians, counter-clockwise from the positive x axis; a negative angle asks for a
// radius line to that end; start > end draws the arc outside [end, start]. An angle above 2 pi
// is error 5. A non-finite centre, radius, aspect or angle draws nothing. The graphics cursor
// ends on the centre.
void circle_draw(double x, double y, double r, uint32_t colour, double start, double end, double aspect,
                 uint32_t flags);

// Points per quadrant are capped here: a radius far beyond any image cannot stall the program.
constexpr int64_t circle_quadrant_steps_max = int64_t{1} << 26;
