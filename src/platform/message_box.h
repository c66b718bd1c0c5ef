// Message boxes: the Windows-style box with its button sets and answers, for errors and alerts.
// On a display it is a small modal Xlib dialog of its own (its own connection, so the window keeps
// being drawn behind it). Tests install an in-process handler, or script the answers for a whole
// process with LUMO_MSGBOX="yes,no,ok,..." (LUMO_MSGBOX=auto answers every box with its safe
// default). With no display and no script the box answers its safe default: No, or OK.
// Every box is also written to standard error as one line (an OK box before it is shown). A box
// without a handler allocates nothing, so the fatal out-of-memory error can still show one.
#pragma once

#include <cstdint>
#include <functional>
#include <string>

namespace platform {

// Style bits and answers keep the Windows values, so the runtime's constants pass through unchanged.
constexpr uint32_t mb_ok = 0x0;
constexpr uint32_t mb_yes_no = 0x4;
constexpr uint32_t mb_button_mask = 0xF;
constexpr uint32_t mb_system_modal = 0x1000;

constexpr int id_ok = 1;
constexpr int id_cancel = 2;
constexpr int id_yes = 6;
constexpr int id_no = 7;

struct message_box_call {
    std::string text;
    std::string caption;
    uint32_t style;
};

using message_box_handler = std::function<int(const message_box_call&)>;

// Replaces how boxes are answered (tests); an empty handler restores the default.
void platform_message_box_handler_set(message_box_handler handler);

// Shows the box and returns the button pressed; never returns 0. An open dialog also closes,
// with the safe answer, as soon as `cancelled` (when given) says so.
int platform_message_box(const char* text, const char* caption, uint32_t style, bool (*cancelled)() = nullptr);

// The answer a box gets when nobody can answer it: No for Yes/No boxes, OK otherwise.
int message_box_safe_answer(uint32_t style);

}  // namespace platform
