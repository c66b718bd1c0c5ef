// The renderer's side of the three frame slots, played by the frame tests and benchmarks without a
// window: showing the newest ready frame, and finding the picture that would be shown next.
#pragma once

#include "display/frames.h"

// The renderer's turn: the newest ready frame becomes shown, every older ready or shown one free.
inline void renderer_take() {
    software_frame* newest = nullptr;
    for (software_frame& f : software_frames) {
        if (f.state == frame_slot_ready && (!newest || f.number > newest->number)) newest = &f;
    }
    if (!newest || !software_frame_claim(*newest, frame_slot_ready, frame_slot_shown)) return;
    for (software_frame& f : software_frames) {
        int32_t s = f.state;
        if (&f != newest && (s == frame_slot_ready || s == frame_slot_shown) && f.number < newest->number) {
            software_frame_claim(f, s, frame_slot_free);
        }
    }
}

// The picture the renderer would show next: the newest ready or shown frame.
inline const software_frame* newest_frame() {
    const software_frame* newest = nullptr;
    for (const software_frame& f : software_frames) {
        int32_t s = f.state;
        if ((s == frame_slot_ready || s == frame_slot_shown) && (!newest || f.number > newest->number)) {
            newest = &f;
        }
    }
    return newest;
}
