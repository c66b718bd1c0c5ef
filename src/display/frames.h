// The frame builder and its three frame slots. The builder turns the displayed page into a 32-bit
// picture (text pages cell by cell from the glyph tables with blink and the text cursor, palette
// pages through their palette, 32-bit pages as they are) and hands it to the renderer through the
// slots. It does not draw into the window; the renderer does.
#pragma once

#include <atomic>
#include <cstdint>

#include "screen/frame_handover.h"

// Slot states. The builder moves a slot free -> building -> ready (or back to free when nothing
// changed) and may take back the older of two ready slots; the renderer moves ready -> shown and
// frees the ready or shown slots older than the one it shows. Every change is a compare-and-swap
// (software_frame_claim), so when both sides reach for one slot exactly one of them gets it.
enum : int32_t {
    frame_slot_free = 1,
    frame_slot_building = 2,
    frame_slot_ready = 3,
    frame_slot_shown = 4,
};

struct software_frame {
    std::atomic<int32_t> state{frame_slot_free};
    // Frame number given when the builder took the slot; stored before the slot becomes ready.
    std::atomic<int64_t> number{0};
    // Row by row from the top, each pixel 0xAARRGGBB. Written only while the slot is being built;
    // read by the renderer only after it moved the slot to shown (acquire).
    uint32_t* pixels = nullptr;
    int32_t width = 0;
    int32_t height = 0;
    int64_t capacity = 0;  // bytes allocated for pixels; only grows
};

constexpr int software_frame_count = 3;
extern software_frame software_frames[software_frame_count];

// Moves a slot from one state to another when it is still in the first; true when it did.
inline bool software_frame_claim(software_frame& frame, int32_t from, int32_t to) {
    return frame.state.compare_exchange_strong(from, to, std::memory_order_acq_rel);
}

// Number of the slot the builder finished last, built or not.
extern std::atomic<int64_t> frame_number_ready;
// The next frame is built even when the page did not change (full-screen changes).
extern std::atomic<int32_t> frame_rebuild_forced;
// Counted up by the control thread every second turn; its bit 3 is the blink and cursor phase.
extern std::atomic<int32_t> frame_tick_count;
// Pixel size of the displayed page measured at the last build.
extern std::atomic<int32_t> frame_width;
extern std::atomic<int32_t> frame_height;
// Set at the end of every build call, also when nothing was built.
extern std::atomic<int32_t> frame_done;

// The renderer's turn: the newest ready slot above the shown one becomes shown and the older ready or
// shown slots free; else the shown slot stays. Null when there is neither. newly_shown tells which.
software_frame* software_frame_show_newest(bool& newly_shown);
// The slot that turn would show, without taking it.
software_frame* software_frame_next_shown();

// Start-up: all three slots free, frame numbers from 1, the builder's comparison state cleared.
void software_frames_reset();

// Builds one frame of display_image into a slot (control thread with automatic display on, or the
// program thread through display_now and display_frame_wait).
void software_frame_build();
// The builder's answer to a page rebuild's request, given between builds (control thread).
void frame_build_suspend_answer();
void autodisplay_on();
// Shows the current page now; with automatic display on this turns it off.
void display_now();
// Waits for the next build call (automatic display), or builds one now.
void display_frame_wait();
// Called once per slot taken, after the page was measured; does nothing.
void frame_hook_empty();
