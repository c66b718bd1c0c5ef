// Message and alert boxes of the runtime, and the small debugging aids (the "log.txt" debug log,
// the value box, the request-and-acknowledge pair). How a box is shown and answered is the platform
// layer's (platform/message_box.h).
#pragma once

#include <atomic>
#include <cstdint>

// Shows a box without an owner window; the window argument is not used. Returns the button pressed.
int message_box(void* window, const char* text, const char* caption, uint32_t style);
void alert_text(const char* text);
void alert_number(int32_t n);
void debug_show_value(int64_t n);

void debug_log_open();
void debug_log_text(const char* text);
void debug_log_int(int32_t n);

extern std::atomic<int32_t> request_flag;
extern std::atomic<int32_t> acknowledge_flag;
void request_ack_wait();
void request_ack_clear();
