#include "display/frames.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <random>
#include <string>
#include <thread>
#include <utility>

#include "core/runtime_fixture.h"
#include "core/timing.h"
#include "display/frame_builder.h"
#include "display/frame_fixture.h"
#include "screen/colors.h"
#include "screen/palette.h"

namespace {

using Frames = frame_test;

std::set<int32_t> rows_of(cursor_line_range r) {
    std::set<int32_t> rows;
    for (int32_t i = r.first; i <= r.last; ++i) rows.insert(i);
    return rows;
}
std::set<int32_t> span(int32_t first, int32_t last) { return rows_of({first, last}); }

TEST(CursorLines, EachShapeOfTheTable) {
    struct row {
        int32_t s, e, h;
        std::set<int32_t> lines;
    };
    const row rows[] = {
        {0, 0, 16, {0}},          {4, 0, 16, {}},           {5, 2, 16, span(2, 15)},  {3, 3, 16, {3}},
        {4, 4, 16, {14}},         {4, 4, 14, {13}},         {4, 4, 8, {7}},           {0, 3, 16, span(0, 3)},
        {1, 2, 8, {1, 2}},        {0, 15, 16, span(0, 15)}, {1, 7, 8, span(1, 7)},    {2, 3, 16, {2, 3}},
        {2, 4, 16, {12, 13, 14}}, {2, 4, 8, {5, 6, 7}},     {2, 9, 16, span(2, 15)},  {6, 7, 16, {13, 14}},
        {6, 7, 8, {6, 7}},        {6, 8, 16, {12, 13, 14}}, {6, 12, 16, span(8, 15)}, {3, 7, 8, span(4, 7)},
        {3, 9, 14, span(7, 13)},  {20, 10, 8, {}},          {0, 31, 8, span(0, 7)},   {31, 31, 8, {7}},
    };
    for (const row& r : rows) {
        EXPECT_EQ(rows_of(cursor_lines(r.s, r.e, r.h)), r.lines) << "s " << r.s << " e " << r.e << " h " << r.h;
    }
}

// Cells of every code and a spread of attributes, some blinking.
void text_page_fill(image_record& page, uint32_t seed) {
    std::mt19937 random(seed);
    auto* cells = reinterpret_cast<text_cell*>(page.pixels);
    for (int32_t i = 0; i < page.width * page.height; ++i) {
        cells[i] = {uint8_t(i * 7 + 3), uint8_t(random())};
    }
}

TEST_F(Frames, TextPagesInEachFontWithBlinkAndCursor) {
    struct row {
        int32_t columns, rows, font, frame_width, frame_height, cursor_line;
    };
    const row rows[] = {{80, 25, 16, 640, 400, 14}, {40, 25, 17, 640, 400, 14}, {80, 43, 14, 640, 602, 13},
                        {40, 43, 15, 640, 602, 13}, {80, 50, 8, 640, 400, 7},   {40, 50, 9, 640, 400, 7}};
    for (const row& r : rows) {
        software_frames_reset();
        image_record& page = shown_image(r.columns, r.rows, 0);
        page.font = r.font;
        text_page_fill(page, uint32_t(r.font));
        page.cursor_visible = 1;
        page.cursor_start_line = 4;
        page.cursor_stop_line = 4;
        page.cursor_column = 7;
        page.cursor_row = 3;
        const std::set<int32_t> cursor_rows = {r.cursor_line};
        for (int32_t tick : {0, 8, 16, 24}) {
            frame_tick_count = tick;
            software_frame_build();
            const software_frame* f = software_frame_next_shown();
            ASSERT_NE(f, nullptr);
            ASSERT_EQ(f->width, r.frame_width);
            ASSERT_EQ(f->height, r.frame_height);
            EXPECT_EQ(frame_width.load(), r.frame_width);
            EXPECT_EQ(pixels_of(*f), text_page_picture(page, tick, cursor_rows).pixels)
                << "font " << r.font << " tick " << tick;
            renderer_take();
        }
    }
}

TEST_F(Frames, BlinkingCellHiddenWhileBitThreeIsSet) {
    image_record& page = shown_image(2, 1, 0);
    auto* cells = reinterpret_cast<text_cell*>(page.pixels);
    cells[0] = {219, 0x9E};  // full block, yellow on blue, blinking
    cells[1] = {219, 0x1E};  // the same without blink
    const uint32_t yellow = default_palette_256[14], blue = default_palette_256[1];
    for (int32_t tick : {0, 8, 7, 15}) {
        frame_tick_count = tick;
        software_frame_build();
        const software_frame* f = software_frame_next_shown();
        EXPECT_EQ(f->pixels[3 * 16 + 2], (tick & 8) ? blue : yellow) << tick;
        EXPECT_EQ(f->pixels[3 * 16 + 10], yellow) << tick;
    }
}

TEST_F(Frames, CursorAfterAKeptNewlineShowsAtTheNextRow) {
    image_record& page = shown_image(4, 3, 0);
    page.cursor_visible = 1;
    page.cursor_start_line = 0;
    page.cursor_stop_line = 15;  // the whole cell
    frame_tick_count = 8;
    const uint32_t grey = default_palette_256[7], black = default_palette_256[0];
    struct row {
        int32_t cursor_row, pending, shown_row, shown_column;
    };
    const row rows[] = {{1, 2, 2, 1}, {1, 1, 1, 4}, {1, 0, 1, 4}, {3, 2, 3, 4}};
    for (const row& r : rows) {
        page.cursor_row = int16_t(r.cursor_row);
        page.cursor_column = 4;
        page.pending_newline = uint8_t(r.pending);
        software_frame_build();
        const software_frame* f = software_frame_next_shown();
        for (int32_t row = 1; row <= 3; ++row) {
            for (int32_t column = 1; column <= 4; ++column) {
                const bool here = row == r.shown_row && column == r.shown_column;
                EXPECT_EQ(f->pixels[size_t((row - 1) * 16 + 5) * 32 + size_t((column - 1) * 8 + 3)], here ? grey : black)
                    << "pending " << r.pending << " at " << row << "," << column;
            }
        }
        renderer_take();
    }
}

TEST_F(Frames, PalettePagesThroughTheirPalette) {
    struct row {
        int32_t mode, width, height;
    };
    const row rows[] = {{12, 640, 480}, {9, 37, 11}, {1, 33, 7}, {2, 17, 3}, {13, 320, 200}, {256, 19, 5}};
    std::mt19937 random(5);
    for (const row& r : rows) {
        software_frames_reset();
        image_record& page = shown_image(r.width, r.height, r.mode);
        for (size_t i = 0; i < image_pixel_bytes(&page); ++i) page.pixels[i] = uint8_t(random() & page.color_mask);
        page.palette[1] = 0x00123456;  // an entry without alpha shows opaque
        software_frame_build();
        const software_frame* f = software_frame_next_shown();
        ASSERT_NE(f, nullptr) << r.mode;
        ASSERT_EQ(f->width, r.width);
        ASSERT_EQ(f->height, r.height);
        EXPECT_EQ(pixels_of(*f), palette_page_picture(page)) << "mode " << r.mode;
    }
}

// The search as the builder calls it, then the loop of every vector level this processor runs.
struct difference_search_case {
    std::string name;
    first_difference_search search;
};
std::vector<difference_search_case> difference_searches_run_here() {
    std::vector<difference_search_case> searches{{"the processor's own", first_difference}};
    const vector_level own = vector_level_of_cpu();
    for (auto [level, name] : {std::pair{vector_level::baseline, "baseline"}, std::pair{vector_level::avx2, "avx2"},
                               std::pair{vector_level::x86_64_v4, "x86-64-v4"}})
        if (level <= own) searches.push_back({name, first_difference_build_of(level)});
    return searches;
}

TEST(PaletteExpand, FirstDifferenceAtEachPlaceAroundTheVectors) {
    constexpr size_t n = 3 * 4096 + 5;
    std::vector<uint8_t> a(n, 7), b(n, 7);
    for (const difference_search_case& c : difference_searches_run_here()) {
        SCOPED_TRACE(c.name);
        EXPECT_EQ(c.search(a.data(), b.data(), n), n);
        EXPECT_EQ(c.search(a.data(), b.data(), 0), 0u);
        for (size_t at : {size_t{0}, size_t{1}, size_t{15}, size_t{16}, size_t{63}, size_t{64}, size_t{255},
                          size_t{256}, size_t{257}, size_t{4095}, size_t{4096}, size_t{8200}, n - 1}) {
            b[at] = 8;
            b[n - 1] = 9;  // a later difference never hides the first
            EXPECT_EQ(c.search(a.data(), b.data(), n), at) << at;
            EXPECT_EQ(c.search(a.data(), b.data(), at), at) << at;
            // Every length past it, within the last vectors: the tails find it too.
            for (size_t length = at + 1; length <= std::min(n, at + 300); ++length)
                ASSERT_EQ(c.search(a.data(), b.data(), length), at) << at << " length " << length;
            b[at] = 7;
            b[n - 1] = 7;
        }
    }
}

// Every build the processor runs gives the plain loop's pixels and copy, over random tables of
// 16 colours (repeated, as the builder makes them) and of 256, and a table that repeats in entries
// 64-127 but not above (all black but entry 200), at every alignment and run length around the
// vector steps.
TEST(PaletteExpand, EachBuildEqualsThePlainLoop) {
    const palette_expand_build builds[] = {palette_expand_build::byte_shuffles, palette_expand_build::byte_permutes};
    std::mt19937 random(11);
    constexpr size_t most = 64 * 5 + 17;
    constexpr uint8_t lone_index = 200;
    std::vector<uint8_t> src(most + 64), copy(most), want_copy(most);
    std::vector<uint32_t> out(most), want(most);
    struct palette_case {
        int32_t bits;
        bool random_entries;  // else black but lone_index
    };
    for (const palette_case& p : {palette_case{4, true}, palette_case{8, true}, palette_case{8, false}}) {
        const int32_t bits = p.bits;
        uint32_t palette[256];
        for (uint32_t& entry : palette) entry = p.random_entries ? uint32_t(random()) : 0;
        if (!p.random_entries) palette[lone_index] = 0xFF0000;
        uint32_t table[256];
        palette_expansion_table(palette, bits, table);
        for (size_t i = 0; i < src.size(); ++i) src[i] = i % 3 ? uint8_t(random()) : lone_index;
        for (palette_expand_build build : builds) {
            if (!palette_expand_build_runs(build)) continue;
            if (build == palette_expand_build::byte_shuffles && bits != 4) continue;
            for (size_t offset = 0; offset < 64; offset += 7) {
                for (size_t n : {size_t{0}, size_t{1}, size_t{15}, size_t{16}, size_t{63}, size_t{64}, size_t{65},
                                 size_t{129}, most}) {
                    // Past n everything keeps its fill: no build writes beyond the run.
                    std::fill(out.begin(), out.end(), 0xDEADBEEF), std::fill(want.begin(), want.end(), 0xDEADBEEF);
                    std::fill(copy.begin(), copy.end(), 0xA5), std::fill(want_copy.begin(), want_copy.end(), 0xA5);
                    palette_expand_by(palette_expand_build::plain, src.data() + offset, want_copy.data(), want.data(),
                                      n, table);
                    palette_expand_by(build, src.data() + offset, copy.data(), out.data(), n, table);
                    ASSERT_EQ(out, want) << int(build) << " bits " << bits << " offset " << offset << " n " << n;
                    ASSERT_EQ(copy, want_copy) << int(build) << " bits " << bits << " offset " << offset << " n " << n;
                    // Without a copy the same pixels, and the copy untouched.
                    std::fill(out.begin(), out.end(), 0xDEADBEEF), std::fill(copy.begin(), copy.end(), 0xA5);
                    palette_expand_by(build, src.data() + offset, nullptr, out.data(), n, table);
                    ASSERT_EQ(out, want) << int(build) << " bits " << bits << " offset " << offset << " n " << n;
                }
            }
        }
    }
}

TEST_F(Frames, ModeNineBackgroundIsPaletteEntryZero) {
    image_record& page = shown_image(640, 480, 9);
    dest_image_select(-display_image_index);
    dest_colors_set(3, 8, 0, 3);  // the winding program's colours: dark blue behind everything
    software_frame_build();
    const software_frame* f = software_frame_next_shown();
    ASSERT_NE(f, nullptr);
    EXPECT_EQ(pixels_of(*f), std::vector<uint32_t>(640 * 480, 0xFF000055u));
    EXPECT_EQ(page.fore_color, 3);
}

TEST_F(Frames, ThirtyTwoBitPagesAsTheyAre) {
    image_record& page = shown_image(641, 3, 32);
    std::mt19937 random(9);
    auto* pixels = reinterpret_cast<uint32_t*>(page.pixels);
    for (int32_t i = 0; i < 641 * 3; ++i) pixels[i] = random();
    software_frame_build();
    const software_frame* f = software_frame_next_shown();
    ASSERT_NE(f, nullptr);
    EXPECT_EQ(pixels_of(*f), std::vector<uint32_t>(pixels, pixels + 641 * 3));
}

TEST_F(Frames, ModeTenShowsTheLevelsOfItsPseudoColours) {
    image_record& page = shown_image(4, 1, 10);
    for (int i = 0; i < 4; ++i) page.pixels[i] = uint8_t(i);
    page.palette[4] = 9;  // no such pseudo-colour: the entry stays
    page.palette[0] = 0x00ABCDEF;
    for (;;) {
        const int64_t before = clock_ms();
        software_frame_build();
        const int64_t after = clock_ms();
        if ((before & 512) != (after & 512)) continue;
        const uint32_t phase = (before & 512) ? 1 : 0;
        const software_frame* f = software_frame_next_shown();
        EXPECT_EQ(f->pixels[0], 0xFFABCDEFu);
        for (int i = 1; i < 4; ++i) {
            EXPECT_EQ(f->pixels[i], mode10_level_table[phase * 9 + page.palette[i + 4]] | 0xFF000000u) << i;
        }
        break;
    }
}

int64_t test_now_ms = 0;
int64_t test_clock_now() { return test_now_ms; }

// Bit 9 of the clock chooses the levels: the phase turns at 512 ms, not at 256.
TEST_F(Frames, ModeTenLevelsFollowBitNineOfTheTestClock) {
    const time_source clock{test_clock_now, nullptr, nullptr};
    time_source_set(&clock);
    image_record& page = shown_image(4, 1, 10);
    for (int i = 0; i < 4; ++i) page.pixels[i] = uint8_t(i);
    const struct {
        int64_t now;
        uint32_t phase;
    } moments[] = {{0, 0}, {256, 0}, {511, 0}, {512, 1}, {768, 1}, {1023, 1}, {1024, 0}, {1536, 1}};
    for (const auto& m : moments) {
        test_now_ms = m.now;
        frame_rebuild_forced = 1;
        software_frame_build();
        const software_frame* f = software_frame_next_shown();
        ASSERT_NE(f, nullptr);
        for (int i = 0; i < 4; ++i)
            EXPECT_EQ(f->pixels[i], mode10_level_table[m.phase * 9 + page.palette[i + 4]] | 0xFF000000u)
                << "at " << m.now << " ms, attribute " << i;
        renderer_take();
    }
    time_source_set(nullptr);
}

TEST_F(Frames, UnchangedPageFreesItsSlotAndStillAdvances) {
    image_record& page = shown_image(16, 16, 13);
    software_frame_build();
    const software_frame* first = software_frame_next_shown();
    ASSERT_NE(first, nullptr);
    EXPECT_EQ(first->number, 1);
    EXPECT_EQ(frame_compare_valid.load(), 1);
    software_frame_build();
    EXPECT_EQ(frame_number_ready.load(), 2);
    EXPECT_EQ(frame_number_next.load(), 3);
    EXPECT_EQ(software_frame_next_shown(), first);
    int32_t free_slots = 0;
    for (const software_frame& f : software_frames) free_slots += f.state == frame_slot_free;
    EXPECT_EQ(free_slots, 2);
    EXPECT_EQ(frame_done.load(), 1);

    page.palette[0] = 0x00FF0000;  // a palette change alone rebuilds
    software_frame_build();
    EXPECT_EQ(software_frame_next_shown()->number, 3);
    EXPECT_EQ(software_frame_next_shown()->pixels[0], 0xFFFF0000u);

    frame_rebuild_forced = 1;  // a forced frame is built though nothing changed
    software_frame_build();
    EXPECT_EQ(software_frame_next_shown()->number, 4);
    EXPECT_EQ(frame_rebuild_forced.load(), 0);
}

TEST_F(Frames, ThirtyTwoBitPageOfAnotherShapeRebuilds) {
    image_record& page = shown_image(4, 2, 32);
    software_frame_build();
    page.width = 2;
    page.height = 4;  // the same bytes, another shape
    software_frame_build();
    EXPECT_EQ(software_frame_next_shown()->number, 2);
    EXPECT_EQ(software_frame_next_shown()->width, 2);
}

TEST_F(Frames, HiddenSoftwareLayerBuildsOnlyWhenTheCopiesAreInvalid) {
    display_order_set(2, 0, 0, 0);
    for (int32_t mode : {0, 12, 32}) {
        software_frames_reset();
        image_record& page = shown_image(8, 8, mode);
        software_frame_build();
        ASSERT_NE(software_frame_next_shown(), nullptr) << mode;
        page.pixels[0] ^= 1;
        software_frame_build();
        EXPECT_EQ(software_frame_next_shown()->number, 1) << mode;
        frame_compare_valid = 0;
        software_frame_build();
        EXPECT_EQ(software_frame_next_shown()->number, 3) << mode;
    }
}

TEST_F(Frames, SuspendRequestIsAnsweredAndNothingIsBuilt) {
    shown_image(8, 8, 13);
    frame_build_suspend = 1;
    autodisplay_mode = -1;
    software_frame_build();
    EXPECT_EQ(frame_build_suspend.load(), 2);
    EXPECT_EQ(frame_number_next.load(), 1);
    EXPECT_EQ(software_frame_next_shown(), nullptr);
    EXPECT_EQ(autodisplay_mode.load(), 0);
    EXPECT_EQ(frame_done.load(), 1);
}

TEST_F(Frames, RendererTurnShowsTheNewestReadyAndFreesTheOlderOnes) {
    struct slot_set {
        const char* name;
        int32_t state[3];
        int64_t number[3];
        int shown;  // index of the slot shown afterwards, -1 none
        bool newly;
        int32_t after[3];
    };
    const int32_t F = frame_slot_free, R = frame_slot_ready, S = frame_slot_shown;
    const slot_set cases[] = {
        {"newest of two ready over the shown", {R, S, R}, {3, 1, 2}, 0, true, {S, F, F}},
        {"nothing newer: the shown stays", {F, S, F}, {0, 4, 0}, 1, false, {F, S, F}},
        {"a ready one older than the shown is no picture", {R, S, F}, {2, 5, 0}, 1, false, {R, S, F}},
        {"a slot being built is left alone", {2, R, S}, {1, 7, 6}, 1, true, {2, S, F}},
        {"nothing at all", {F, F, F}, {0, 0, 0}, -1, false, {F, F, F}},
    };
    for (const slot_set& c : cases) {
        for (int i = 0; i < 3; ++i) {
            software_frames[i].state = c.state[i];
            software_frames[i].number = c.number[i];
        }
        const software_frame* peek = software_frame_next_shown();
        bool newly = !c.newly;
        const software_frame* shown = software_frame_show_newest(newly);
        EXPECT_EQ(shown, c.shown < 0 ? nullptr : &software_frames[c.shown]) << c.name;
        EXPECT_EQ(peek, shown) << c.name;
        EXPECT_EQ(newly, c.newly) << c.name;
        for (int i = 0; i < 3; ++i) EXPECT_EQ(software_frames[i].state.load(), c.after[i]) << c.name << " slot " << i;
    }
}

TEST_F(Frames, HiddenWindowBuildsNothingAndKeepsARequest) {
    shown_image(8, 8, 13);
    window_hidden = 1;
    autodisplay_mode = -1;
    software_frame_build();
    EXPECT_EQ(frame_number_next.load(), 1);
    EXPECT_EQ(autodisplay_mode.load(), -1);
    EXPECT_EQ(frame_done.load(), 1);
    window_hidden = 0;
}

TEST_F(Frames, FreeSlotBeforeReadyAndNeverTheNewestReady) {
    image_record& page = shown_image(8, 8, 13);
    auto change = [&] { page.pixels[0]++; };
    software_frame_build();
    change();
    software_frame_build();  // two ready frames, one free slot, the renderer lags
    software_frame* free_slot = nullptr;
    for (software_frame& f : software_frames) {
        if (f.state == frame_slot_free) free_slot = &f;
    }
    ASSERT_NE(free_slot, nullptr);
    change();
    software_frame_build();
    EXPECT_EQ(free_slot->state.load(), frame_slot_ready);
    EXPECT_EQ(free_slot->number.load(), 3);

    // All three ready: the oldest is taken again, the newest keeps its picture.
    const std::vector<uint32_t> newest_pixels = pixels_of(*software_frame_next_shown());
    const software_frame* newest = software_frame_next_shown();
    change();
    software_frame_build();
    EXPECT_EQ(newest->state.load(), frame_slot_ready);
    EXPECT_EQ(pixels_of(*newest), newest_pixels);
    EXPECT_EQ(software_frame_next_shown()->number, 4);
    for (const software_frame& f : software_frames) EXPECT_NE(f.number.load(), 1);
}

TEST_F(Frames, NoSlotAlertsAndStillEndsTheCall) {
    recorded_boxes boxes;
    shown_image(8, 8, 13);
    for (software_frame& f : software_frames) f.state = frame_slot_shown;
    autodisplay_mode = -1;
    frame_build_suspend = 0;
    software_frame_build();
    ASSERT_EQ(boxes.calls.size(), 1u);
    EXPECT_EQ(boxes.calls[0].text, "Software frame buffer: Failed to find available frame");
    EXPECT_EQ(autodisplay_mode.load(), 0);
    EXPECT_EQ(frame_done.load(), 1);
}

// Random edits of the page, random phases and a renderer that lags at random: after every call the
// frame the renderer would show next equals the page drawn from scratch.
TEST_F(Frames, TextFramesEqualAFullRebuildUnderRendererLag) {
    struct shape {
        int32_t start, stop;
        std::set<int32_t> rows;  // for 16-row glyphs
    };
    const shape shapes[] = {{4, 4, {14}}, {0, 15, span(0, 15)}, {6, 7, {13, 14}}, {4, 0, {}}, {0, 0, {0}}};
    std::mt19937 random(11);
    for (int32_t font : {16, 17}) {
        software_frames_reset();
        image_record& page = shown_image(12, 5, 0);
        page.font = font;
        text_page_fill(page, 3);
        auto* cells = reinterpret_cast<text_cell*>(page.pixels);
        int32_t tick = 0;
        const shape* cursor = &shapes[0];
        for (int step = 0; step < 600; ++step) {
            const uint32_t action = random() % 100;
            if (action < 50) {
                for (uint32_t n = random() % 4; n > 0; --n) cells[random() % 60] = {uint8_t(random()), uint8_t(random())};
            } else if (action < 60) {
                page.cursor_column = int16_t(1 + random() % 12);
                page.cursor_row = int16_t(1 + random() % 5);
                page.pending_newline = uint8_t(random() % 3);
            } else if (action < 65) {
                page.cursor_visible ^= 1;
            } else if (action < 70) {
                cursor = &shapes[random() % 5];
                page.cursor_start_line = uint8_t(cursor->start);
                page.cursor_stop_line = uint8_t(cursor->stop);
            } else if (action < 73) {
                page.palette[random() % 16] = random() & 0xFFFFFF;
            } else if (action < 75) {
                frame_compare_valid = 0;
            }
            tick += int32_t(random() % 12);
            frame_tick_count = tick;
            if (random() % 3 == 0) renderer_take();
            software_frame_build();
            const software_frame* f = software_frame_next_shown();
            ASSERT_NE(f, nullptr);
            ASSERT_EQ(pixels_of(*f), text_page_picture(page, tick, cursor->rows).pixels)
                << "font " << font << " step " << step;
        }
    }
}

TEST_F(Frames, PaletteAndThirtyTwoBitFramesEqualTheirPageUnderRendererLag) {
    std::mt19937 random(12);
    for (int32_t mode : {12, 13, 32}) {
        software_frames_reset();
        image_record& page = shown_image(45, 7, mode);
        const size_t bytes = image_pixel_bytes(&page);
        for (int step = 0; step < 400; ++step) {
            const uint32_t action = random() % 10;
            if (action < 6) {
                for (uint32_t n = random() % 5; n > 0; --n) {
                    const size_t at = random() % bytes;
                    page.pixels[at] = uint8_t(random() & (mode == 32 ? 255 : page.color_mask));
                }
            } else if (action < 7 && mode != 32) {
                page.palette[random() % (page.color_mask + 1)] = random() & 0xFFFFFF;
            } else if (action < 8) {
                frame_compare_valid = 0;
            }
            if (random() % 3 == 0) renderer_take();
            software_frame_build();
            const software_frame* f = software_frame_next_shown();
            ASSERT_NE(f, nullptr);
            const std::vector<uint32_t> want =
                mode == 32 ? std::vector<uint32_t>(reinterpret_cast<uint32_t*>(page.pixels),
                                                   reinterpret_cast<uint32_t*>(page.pixels) + 45 * 7)
                           : palette_page_picture(page);
            ASSERT_EQ(pixels_of(*f), want) << "mode " << mode << " step " << step;
        }
    }
}

// The control thread's part: builds while automatic display is on.
struct builder_thread {
    std::atomic<bool> running{true};
    std::thread thread{[this] {
        while (running) {
            if (autodisplay_mode != 0) software_frame_build();
            std::this_thread::sleep_for(std::chrono::milliseconds(2));
        }
    }};
    ~builder_thread() {
        running = false;
        thread.join();
    }
};

using FramesThreaded = frame_test;

// The program writes the page while the builder compares it: a byte flipped to the copy's value
// and back meanwhile never hides a byte that differs for the whole compare.
TEST(FirstDifferenceThreaded, AByteFlippedMeanwhileNeverHidesOneChangedThroughout) {
    constexpr size_t n = 4096, flipped = 100, changed = 3000;
    std::vector<uint8_t> page(n, 7), copy(n, 7);
    page[changed] = 8;
    std::atomic<bool> writing{true}, started{false};
    std::thread program([&] {
        volatile uint8_t* byte = &page[flipped];  // a plain store each time, as the program's own
        started = true;
        for (uint8_t v = 7; writing.load(std::memory_order_relaxed); v ^= 1) *byte = v;
    });
    while (!started) std::this_thread::yield();
    for (const difference_search_case& c : difference_searches_run_here()) {
        for (int call = 0; call < 100000; ++call) {
            const size_t at = c.search(page.data(), copy.data(), n);
            if (at != flipped && at != changed) {
                ADD_FAILURE() << c.name << ": call " << call << " answered " << at;
                break;
            }
        }
    }
    writing = false;
    program.join();
}

// Each kind of page is compared as the program writes it: a change that stays is shown by the
// next frame, while an earlier byte flips to the copy's value and back during the compare.
TEST_F(FramesThreaded, ChangeShownByTheNextFrameWhileAnEarlierByteFlips) {
    struct kind_case {
        const char* name;
        int32_t width, height, mode;
        int32_t rounds;  // fewer for text, whose frames cost a whole picture's copy each
    };
    // Pages of 2000 bytes: large enough for the compare's widest loop.
    const kind_case kinds[] = {
        {"32-bit", 25, 20, 32, 20000}, {"text", 40, 25, 0, 5000}, {"256 colours", 50, 40, 13, 20000}};
    constexpr size_t flipped = 100, changed = 1900;
    for (const kind_case& k : kinds) {
        software_frames_reset();
        image_record& page = shown_image(k.width, k.height, k.mode);
        if (page.is_text) page.font = 8;  // the smallest picture to copy each frame
        software_frame_build();
        renderer_take();
        std::atomic<bool> writing{true}, started{false};
        std::thread program([&] {
            volatile uint8_t* byte = &page.pixels[flipped];
            const uint8_t shown = *byte;
            started = true;
            for (uint8_t v = shown; writing.load(std::memory_order_relaxed); v ^= 1) *byte = v;
            *byte = shown;
        });
        while (!started) std::this_thread::yield();
        for (int round = 0; round < k.rounds; ++round) {
            page.pixels[changed] ^= 1;
            software_frame_build();
            const software_frame* f = software_frame_next_shown();
            if (!f || f->number != frame_number_ready.load()) {
                ADD_FAILURE() << k.name << ": round " << round << " showed no new frame";
                break;
            }
            renderer_take();
        }
        writing = false;
        program.join();
    }
}

TEST_F(FramesThreaded, DisplayNowTurnsAutomaticDisplayOffThenBuildsAtOnce) {
    image_record& page = shown_image(8, 8, 13);
    builder_thread control;
    display_now();
    EXPECT_EQ(autodisplay_mode.load(), 0);
    const int64_t before = frame_number_ready.load();
    page.pixels[0] = 9;
    display_now();  // built on this thread
    EXPECT_EQ(frame_number_ready.load(), before + 1);
    EXPECT_EQ(software_frame_next_shown()->pixels[0], default_palette_256[9]);
    autodisplay_on();
    frame_done = 0;
    display_frame_wait();
    EXPECT_EQ(frame_done.load(), 1);
}

// Nobody builds, so only the shutdown ends a wait; the stopper comes only once the wait has begun
// (it watches the word each wait sets as it starts).
TEST_F(FramesThreaded, WaitsEndOnShutdown) {
    recorded_boxes words;
    shown_image(8, 8, 13);
    const struct {
        const char* name;
        void (*wait)();
        bool (*waiting)();
    } waits[] = {{"display_now", display_now, [] { return autodisplay_mode.load() == -1; }},
                 {"display_frame_wait", display_frame_wait, [] { return frame_done.load() == 0; }}};
    for (const auto& w : waits) {
        shutdown_flag = 0;
        frame_done = 1;
        std::thread stopper([&w] {
            while (!w.waiting()) std::this_thread::yield();
            shutdown_flag = 1;
        });
        w.wait();
        stopper.join();
    }
    EXPECT_EQ(autodisplay_mode.load(), -1);
    EXPECT_EQ(frame_done.load(), 0);
}

TEST_F(FramesThreaded, SuspendHandOverWithTheBuilderRunning) {
    image_record& page = shown_image(8, 8, 13);
    builder_thread control;
    for (int round = 0; round < 20; ++round) {
        frame_build_suspend = 1;
        while (frame_build_suspend != 2) std::this_thread::yield();
        const int64_t taken = frame_number_next.load();
        page.pixels[0] = uint8_t(round);  // the builder leaves the page alone meanwhile
        std::this_thread::sleep_for(std::chrono::milliseconds(3));
        EXPECT_EQ(frame_number_next.load(), taken);
        frame_build_suspend = 0;
    }
}

}  // namespace
