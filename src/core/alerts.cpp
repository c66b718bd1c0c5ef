#include "core/alerts.h"

#include <cinttypes>
#include <cstdio>
#include <fstream>
#include <mutex>

#include "core/program_wake.h"
#include "core/shutdown.h"
#include "platform/message_box.h"
#include "platform/process.h"

std::atomic<int32_t> request_flag{0};
std::atomic<int32_t> acknowledge_flag{0};

namespace {

constexpr int64_t request_ack_look_ms = 1;

struct debug_log_state {
    std::mutex lock;
    std::ofstream stream;
    bool open = false;
};

debug_log_state& debug_log() {
    static debug_log_state log;
    return log;
}

void debug_log_flush() {
    auto& log = debug_log();
    std::lock_guard<std::mutex> guard(log.lock);
    if (log.open) log.stream.flush();
}

// A log that cannot be made now (no such directory, no rights) is tried again at the next write.
void debug_log_open_locked(debug_log_state& log) {
    if (log.open) return;
    log.stream.clear();
    log.stream.open("log.txt", std::ios::out | std::ios::trunc);
    log.open = log.stream.is_open();
    if (log.open) process_flush_hook_add(debug_log_flush);
}

}  // namespace

// A box open when the runtime shuts down closes with its safe answer, so shutdown never waits on it.
int message_box(void*, const char* text, const char* caption, uint32_t style) {
    return platform::platform_message_box(text, caption, style, runtime_shutting_down);
}

void alert_text(const char* text) { message_box(nullptr, text, "Alert", platform::mb_ok); }

void alert_number(int32_t n) {
    char text[100] = {};
    std::snprintf(text, sizeof text, "%d", n);
    alert_text(text);
}

void debug_show_value(int64_t n) {
    // A leading blank for n >= 0, as numbers print.
    char text[32];
    std::snprintf(text, sizeof text, "%s%" PRId64, n >= 0 ? " " : "", n);
    message_box(nullptr, text, "showvalue", platform::mb_system_modal);
}

void debug_log_open() {
    auto& log = debug_log();
    std::lock_guard<std::mutex> guard(log.lock);
    debug_log_open_locked(log);
}

void debug_log_text(const char* text) {
    auto& log = debug_log();
    std::lock_guard<std::mutex> guard(log.lock);
    debug_log_open_locked(log);
    if (log.open) log.stream << text;
}

void debug_log_int(int32_t n) {
    char text[16];
    std::snprintf(text, sizeof text, "%d", n);
    debug_log_text(text);
}

void request_ack_wait() {
    request_flag.store(1);
    // The acknowledgement is a bare store that wakes nobody: looked at every millisecond. Shutdown
    // wakes the wait and ends it.
    for (;;) {
        uint32_t ticket = program_wake_ticket();
        if (acknowledge_flag.load() != 0 || runtime_shutting_down()) return;
        program_wake_wait(ticket, request_ack_look_ms);
    }
}

void request_ack_clear() { acknowledge_flag.store(0); }
