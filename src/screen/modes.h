// Screen modes and pages: the screen-mode statement (a classic display mode, or an image put on the
// screen), the page table with pages made on demand, active and visual page selection, page copy,
// the text pages in emulated memory at 0xB8000 and the mode-13 page at 0xA0000, and the requesting
// side of the frame-build hand-over (the frame builder answers it, display/frames.h).
// It does not change the text grid by itself: the width statement asks for a size through the
// pending text values and lets the screen-mode statement rebuild.
#pragma once

#include <cstdint>
#include <vector>

#include "screen/image_pool.h"

// flags: 1 = mode given, 4 = active page given, 8 = visual page given. The colour switch, the erase
// argument and flag 2 are accepted and ignored. A negative mode is an image handle.
void screen_mode_set(int32_t mode, int32_t color_switch, int32_t active_page, int32_t visual_page, int32_t erase,
                     int32_t flags);
// Makes screen page n (0 <= n <= screen_page_max) if needed, like page 0. Returns its slot, or 0 with
// error 5 above the limit or without a page 0, and error 7 when its memory cannot be had.
int32_t screen_page_get(int32_t n);
// Copies every pixel or cell; each argument is a page number or an image handle.
void page_copy(int32_t from, int32_t to);

// Highest page number: keeps the page table small whatever number a program asks for.
constexpr int32_t screen_page_max = 65535;

// Page number -> image slot, 0 = not made yet. Written by this module; the width statement sets
// entries of dropped pages to 0.
extern std::vector<int32_t> screen_page_table;
inline int32_t screen_page_count() { return static_cast<int32_t>(screen_page_table.size()); }
// Page 0 is an image the program made; a rebuild gives it back instead of freeing it.
extern int32_t page0_is_user_image;
// Text size the width statement asks for at the next text-mode rebuild; -1 = none.
extern int32_t pending_text_columns;
extern int32_t pending_text_rows;
extern int32_t pending_text_font;
// Lets one cursor placement below the text view switch to 80 x 50 text. Set by start-up; cleared
// here, by the width statement and by that switch.
extern int32_t row50_switch_armed;
// Set by start-up before the threads run: page rebuilds use the frame-build hand-over from then on.
extern int32_t frame_suspend_enabled;
// The page made active last by the screen-mode statement; 0 after each rebuild.
extern int32_t last_active_page;

// The grid of page 0 taken just before the last rebuild.
extern text_grid previous_text_grid;

// Where the screen's pages live in emulated memory.
constexpr uint32_t text_pages_address = 0xB8000;
constexpr uint32_t text_pages_bytes = 65536;
constexpr uint32_t mode13_page_address = 0xA0000;
constexpr uint32_t mode13_page_bytes = 64000;

// Brackets a change of pages that the frame builder may be showing: the first begin asks the
// builder to pause and waits for its answer (or for shutdown), the matching end lets it go on.
// Nested brackets take the hand-over once. Program thread only.
void frame_suspend_begin();
void frame_suspend_end();

// Tests: no pages, no pending size, every word at its start value (the pool is left alone).
void screen_pages_reset();
