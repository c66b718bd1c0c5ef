// The words the screen statements and the frame builder share: whether frames are built on their
// own, the page-rebuild hand-over, whether the builder's comparison copies still hold, the number
// of the next frame (which stamps hardware drawing) and the builder's sleep that a rebuild ends
// early. The screen side changes pages; the builder (display/frames.h) answers. Neither the
// waiting nor the building is here.
#pragma once

#include <atomic>
#include <cstdint>

struct sleep_waker;

// 1 frames are built continuously by the control thread, 0 only on request (display_now),
// -1 one frame requested, set back to 0 by the builder.
extern std::atomic<int32_t> autodisplay_mode;
// Page-rebuild hand-over: the program thread writes 1 and waits for the builder's 2, changes the
// pages, then writes 0. The builder builds nothing while it is not 0.
extern std::atomic<int32_t> frame_build_suspend;
// The builder's comparison copies may be used; cleared by screen-mode and font changes.
extern std::atomic<int32_t> frame_compare_valid;
// Number given to the next slot the builder takes (starts at 1); render commands are stamped with it.
extern std::atomic<int64_t> frame_number_next;
// The control thread sleeps on it between turns; a page rebuild signals it for a prompt answer.
extern sleep_waker frame_builder_waker;
