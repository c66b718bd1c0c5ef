// The explanation screen as the program's table says it must look, drawn here cell by cell and
// line by line without the runtime's text or line code: a 640 x 480 picture of 0xAARRGGBB pixels.
// Only the glyph shapes come from the runtime's font table (rows 1-14 of its 8x16 glyphs).
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "screen/fonts.h"

struct expected_screen {
    static constexpr int32_t width = 640, height = 480;
    std::vector<uint8_t> index = std::vector<uint8_t>(size_t(width) * height, 0);

    // The mode-9 palette with entry 0 turned to EGA colour 8 by the background colour 8.
    static uint32_t colour_of(uint8_t i) {
        switch (i) {
            case 0: return 0xFF000055;
            case 3: return 0xFF00AAAA;
            case 10: return 0xFF55FF55;
            case 11: return 0xFF55FFFF;
            case 12: return 0xFFFF5555;
            case 15: return 0xFFFFFFFF;
            default: return 0xDEADBEEF;
        }
    }

    void text(int32_t row, int32_t column, const std::string& s, uint8_t colour) {
        for (size_t i = 0; i < s.size(); ++i) {
            int32_t x0 = (column - 1 + int32_t(i)) * 8, y0 = (row - 1) * 14;
            auto code = static_cast<uint8_t>(s[i]);
            for (int32_t gy = 0; gy < 14; ++gy)
                for (int32_t gx = 0; gx < 8; ++gx)
                    index[size_t(y0 + gy) * width + size_t(x0 + gx)] =
                        glyph_bitmap_8x16[code * 128 + (gy + 1) * 8 + gx] ? colour : 0;
        }
    }
    void horizontal(int32_t y, int32_t x1, int32_t x2, uint8_t colour, int32_t every = 1) {
        for (int32_t x = x1; x <= x2; x += every) index[size_t(y) * width + size_t(x)] = colour;
    }
    void vertical(int32_t x, int32_t y1, int32_t y2, uint8_t colour, int32_t every = 1) {
        for (int32_t y = y1; y <= y2; y += every) index[size_t(y) * width + size_t(x)] = colour;
    }

    // The screen while the program waits at line 96.
    static expected_screen at_key_wait() {
        static const char* const rows[30] = {
            " ", " ", " ",
            "                m  = 2    m  = 3     m  = 4     m  = 5    m  = 6      ",
            " ", " ",
            "                  /         /          9          /         13       ",
            "      p'= 2    12        18         24         30        36          ",
            "                  5...      8...       11...      14        17       ",
            " ",
            "                  /         /          9                             ",
            "      p'= 4    24        36         48                               ",
            "                  5...      8...       11...",
            "  ", "  ",
            "                  /         /                                       ",
            "      p'= 6    36        54                                         ",
            "                  5...      8...                                    ",
            " ", "", "",
            "                                                             y1 = 9            ",
            "                                                         coil pitch for        ",
            "                                                          single layer         ",
            "                                              Z = 48         winding           ",
            "                                             number of                         ",
            "                                              slots        y1 = 11 ...         ",
            "                                                         coil pitch for        ",
            "                                                           two layer           ",
            "                                                             winding           ",
        };
        expected_screen s;
        for (int32_t r = 0; r < 30; ++r) s.text(r + 1, 1, rows[r], 15);
        // The grid of the table, x = 30, and the box.
        for (int32_t y : {30, 70, 135}) s.horizontal(y, 30, 525, 3);
        s.horizontal(200, 30, 355, 3);
        s.horizontal(260, 30, 270, 3);
        for (int32_t x : {30, 100, 185, 270}) s.vertical(x, 30, 260, 3);
        s.vertical(355, 30, 200, 3);
        s.vertical(440, 30, 135, 3);
        s.vertical(525, 30, 135, 3);
        s.horizontal(275, 330, 570, 3);
        s.horizontal(450, 330, 570, 3);
        s.vertical(330, 275, 450, 3);
        s.vertical(570, 275, 450, 3);
        s.text(20, 1, "You mast enter next data:", 3);
        s.text(22, 1, " Z", 12);
        s.text(22, 3, "  - Number of slots", 10);
        s.text(24, 1, " p'", 12);
        s.text(24, 3, "  - Number of poles", 10);
        s.text(26, 1, " y1", 12);
        s.text(26, 3, "  - Coil pitch ", 10);
        s.text(27, 1, "      (if the winding have short pitch)", 10);
        s.vertical(445, 275, 450, 11, 4);
        s.horizontal(355, 445, 570, 11, 4);
        return s;
    }
    // The screen at the end prompt.
    static expected_screen at_end_prompt() {
        expected_screen s = at_key_wait();
        s.text(34, 1, "Press any key to continue", 10);
        return s;
    }

    std::vector<uint32_t> pixels() const {
        std::vector<uint32_t> p(index.size());
        for (size_t i = 0; i < index.size(); ++i) p[i] = colour_of(index[i]);
        return p;
    }
};
