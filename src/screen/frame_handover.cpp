#include "screen/frame_handover.h"

#include "core/timing.h"

std::atomic<int32_t> autodisplay_mode{1};
std::atomic<int32_t> frame_build_suspend{0};
std::atomic<int32_t> frame_compare_valid{0};
std::atomic<int64_t> frame_number_next{1};
sleep_waker frame_builder_waker;
