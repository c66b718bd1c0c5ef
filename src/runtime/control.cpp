#include "runtime/control.h"

#include <cstdio>

#include "core/errors.h"
#include "core/memory.h"
#include "core/shutdown.h"
#include "core/timing.h"
#include "core/traps.h"
#include "display/frames.h"
#include "display/keyboard.h"
#include "files/shell.h"
#include "machine/ports.h"
#include "platform/process.h"
#include "runtime/startup.h"
#include "screen/frame_handover.h"

namespace {

struct control_state {
    int parity = 0;  // flips every full turn: frames on 1, lock keys on 0
};
control_state control;

void bios_ticks_write() {
    uint32_t ticks = bios_tick_count_at(day_ms_now());
    for (uint32_t i = 0; i < 3; ++i) dos_byte_write(bios_tick_address + i, static_cast<uint8_t>(ticks >> (8 * i)));
}

void seam_call(void (*seam)()) {
    if (seam) seam();
}

// Sleeps between turns; the frame builder (this thread) answers a page rebuild's request at once
// instead of at its next frame turn, since it builds nothing while it sleeps.
void control_sleep(int64_t ms) {
    int64_t end = clock_ms() + ms;
    while (sleep_ms_wakeable(end - clock_ms(), frame_builder_waker)) {
        frame_build_suspend_answer();
        if (clock_ms() >= end) return;
    }
}

// The retrace flags rise for the last millisecond of a turn. While no program reads the status
// port (the latch of the last turn is still set) the turn sleeps once instead of twice, which
// nobody can tell apart, and costs half the wake-ups.
void retrace_raise() {
    constexpr int64_t turn_ms = 16, retrace_ms = 1;
    bool watched = retrace_latch.load() == 0;
    control_sleep(watched ? turn_ms - retrace_ms : turn_ms);
    retrace_latch.store(1);
    retrace_active.store(1);
    if (watched) control_sleep(retrace_ms);
}

bool close_requested() { return close_request_bits.load() != 0 && close_handled_by_program.load() == 0; }

}  // namespace

uint32_t bios_tick_count_at(int64_t day_ms) { return static_cast<uint32_t>(day_ms * 182 / 10000); }

void control_turn() {
    if (close_requested()) runtime_shutdown();
    bios_ticks_write();
    bool frame_turn;
    int32_t shell = shell_child_running.load();
    if (shell == -1) return sleep_ms(64);
    if (shell != 0) {
        // The child just started: one more frame, then idle.
        shell_child_running.store(-1);
        frame_turn = true;
    } else {
        retrace_raise();
        if (stop_request.load()) runtime_shutdown();
        control_tick_hook_empty();
        control.parity ^= 1;
        seam_call(runtime_shutdown_seams.printer_page_idle_flush);
        frame_turn = control.parity == 1;
    }
    if (frame_turn) {
        if (autodisplay_mode.load() != 0) software_frame_build();
        frame_tick_count.fetch_add(1);
    }
    retrace_active.store(0);
    // Frame building and the lock keys stay on this one thread and never overlap.
    if (shell_child_running.load() == 0 && control.parity == 0) keyboard_lock_keys_sync();
}

void control_thread_entry() {
    for (;;) control_turn();
}

void runtime_shutdown() {
    shutdown_flag.store(1);
    event_pending_raise();
    timer_thread_wake();
    int64_t deadline = clock_ms() + shutdown_wait_limit_ms;
    while (thread_exit_bits.load() != thread_exit_all && clock_ms() < deadline) sleep_ms(16);
    if (thread_exit_bits.load() == thread_exit_all) {
        seam_call(runtime_shutdown_seams.printer_page_final_send);
        seam_call(runtime_shutdown_seams.files_close_all);
    } else {
        std::fprintf(stderr, "lumo: the program did not stop within %lld ms; ending without closing its files\n",
                     static_cast<long long>(shutdown_wait_limit_ms));
    }
    exit_hook_empty();
    process_exit(platform::exit_normal);
}
