#include "program/winding.h"

#include <fpu_control.h>

#include <csignal>
#include <cstdint>

#include "core/errors.h"
#include "core/fatal_signals.h"
#include "core/stacks.h"
#include "core/statements.h"
#include "core/string_functions.h"
#include "core/strings.h"
#include "display/display_control.h"
#include "display/keyboard.h"
#include "display/window.h"
#include "draw/lines.h"
#include "files/file_open.h"
#include "platform/process.h"
#include "runtime/chain.h"
#include "runtime/lifecycle.h"
#include "runtime/startup.h"
#include "screen/colors.h"
#include "screen/image_handles.h"
#include "screen/image_pool.h"
#include "screen/memory_blocks.h"
#include "screen/modes.h"
#include "screen/text_output.h"
#include "screen/text_view.h"

namespace {

// The routine's state: made on its first entry, kept for error-handler entries.
struct program_state {
    bool entered = false;
    memory_lock* scope_lock = nullptr;
    float* x = nullptr;  // the left edge of the table grid
    uint32_t mark = 0;   // string_temp_top at the routine's start
};
program_state program;

struct printed_line {
    int32_t line;
    const char* text;
    int32_t length;
};

// Lines 16-45: rows 1 to 30 of the screen.
constexpr printed_line table_lines[] = {
    {16, " ", 1},
    {17, " ", 1},
    {18, " ", 1},
    {19, "                m  = 2    m  = 3     m  = 4     m  = 5    m  = 6      ", 70},
    {20, " ", 1},
    {21, " ", 1},
    {22, "                  /         /          9          /         13       ", 69},
    {23, "      p'= 2    12        18         24         30        36          ", 69},
    {24, "                  5...      8...       11...      14        17       ", 69},
    {25, " ", 1},
    {26, "                  /         /          9                             ", 69},
    {27, "      p'= 4    24        36         48                               ", 69},
    {28, "                  5...      8...       11...", 44},
    {29, "  ", 2},
    {30, "  ", 2},
    {31, "                  /         /                                       ", 68},
    {32, "      p'= 6    36        54                                         ", 68},
    {33, "                  5...      8...                                    ", 68},
    {34, " ", 1},
    {35, "", 0},
    {36, "", 0},
    {37, "                                                             y1 = 9            ", 79},
    {38, "                                                         coil pitch for        ", 79},
    {39, "                                                          single layer         ", 79},
    {40, "                                              Z = 48         winding           ", 79},
    {41, "                                             number of                         ", 79},
    {42, "                                              slots        y1 = 11 ...         ", 79},
    {43, "                                                         coil pitch for        ", 79},
    {44, "                                                           two layer           ", 79},
    {45, "                                                             winding           ", 79},
};

// One statement: its calls, the release of its temporaries, and the hook when an event waits; with
// statement_retry set after the hook the statement runs again.
template <class Calls>
void statement(int32_t line, Calls calls) {
    do {
        calls();
        string_temps_release(program.mark, 0);
        if (!event_pending.load()) return;
        statement_hook(line);
    } while (statement_retry.load());
}

// The print statement of one literal, ended with a newline.
void print_literal(const char* text, int32_t length) {
    string_descriptor* s = string_new(0, 0);
    string_assign(s, string_from_literal(text, length));
    if (!error_pending()) {
        print_prewrap(s);
        print_string(s, 0);
        string_free(s);
        print_string(string_empty, 1);
    } else {
        string_free(s);
    }
}

void print_statement(int32_t line, const char* text, int32_t length) {
    statement(line, [=] { print_literal(text, length); });
}

void colours(int32_t line, int32_t fore) {
    statement(line, [=] { dest_colors_set(fore, 8, 0, 3); });
}

void cursor(int32_t line, int32_t row, int32_t column) {
    statement(line, [=] { cursor_place(row, column, 0, 0, 0, 3); });
}

// A solid line in the foreground colour from (x1, y1) to (x2, y2).
void grid_line(int32_t line, float x1, float y1, float x2, float y2) {
    statement(line, [=] { line_draw(x1, y1, x2, y2, 0, 0, 0, line_first_point); });
}

void dotted_line(int32_t line, float x1, float y1, float x2, float y2) {
    statement(line, [=] {
        line_draw(x1, y1, x2, y2, 11, 0, 0xFFFF8888u, line_first_point | line_colour_given | line_style_given);
    });
}

// Line 96: the loop that polls the BIOS keyboard buffer until it gives a key.
void key_wait() {
    static constexpr char empty_text[] = "";
    for (;;) {
        current_line_label = 666.0;
        if (event_pending.load()) {
            statement_hook(96);
            statement_retry.store(0);
        }
        bool again_at_label = false;
        while (!again_at_label) {
            int32_t no_key = string_temps_release(
                program.mark, string_equal(bios_key_buffer_read(), string_from_literal(empty_text, 0)));
            if (no_key == 0 && !error_pending()) return;
            if (event_pending.load()) {
                statement_hook(96);
                again_at_label = !statement_retry.load();
            }
        }
    }
}

void precision_extended() {
    fpu_control_t word;
    _FPU_GETCW(word);
    word = static_cast<fpu_control_t>((word & ~_FPU_EXTENDED) | _FPU_EXTENDED);
    _FPU_SETCW(word);
}

void prologue() {
    if (!program.entered) precision_extended();
    fatal_signal_handover_start();
    fatal_signal_handler_install(SIGFPE, fpe_signal_handler);
    program.mark = string_temp_top();
    if (!program.entered) {
        program.scope_lock = memory_lock_new();
        program.scope_lock->kind = memory_lock_scope;
        program.x = static_cast<float*>(local_stack_alloc(sizeof(float)));
        *program.x = 0.0f;
        program.entered = true;
    }
    if (error_handler_jump) {
        error_handler_jump = 0;
        process_exit(platform::exit_no_error_handler);
    }
    chain_receive();
}

}  // namespace

void program_state_reset() {
    if (program.x) *program.x = 0.0f;
    file_close(0, 0);
    images_free_all();
    error_handler_set = 0;
    error_handler_active = 0;
}

void fpe_signal_handler(int) { fatal_signal_error(error_division_by_zero); }

void program_thread_entry() { program_main(); }

void program_main() {
    prologue();
    float& x = *program.x;

    statement(1, [] { screen_mode_set(9, 0, 0, 0, 0, 1); });
    statement(3, [] { window_resize_mode_set(0, 2); });
    statement(6, [] { screen_mode_set(image_handle_new(640, 480, 0, 0), 0, 0, 0, 0, 1); });
    statement(7, [] { window_position_set(0, 0, 1); });
    statement(10, [] {
        static constexpr char title[] = "EXPLANATION";
        window_title_set(string_from_literal(title, 11));
    });
    for (const printed_line& p : table_lines) print_statement(p.line, p.text, p.length);
    statement(48, [&] { x = 30; });
    colours(50, 3);

    grid_line(51, x, 30, x + 495, 30);
    grid_line(52, x + 495, 30, x + 495, 135);
    grid_line(53, x + 240, 260, x, 260);
    grid_line(54, x, 260, x, 30);
    grid_line(56, x, 70, x + 495, 70);
    grid_line(57, x, 135, x + 495, 135);
    grid_line(58, x, 200, x + 325, 200);
    grid_line(60, x + 70, 30, x + 70, 260);
    grid_line(61, x + 155, 30, x + 155, 260);
    grid_line(62, x + 240, 30, x + 240, 260);
    grid_line(63, x + 325, 30, x + 325, 200);
    grid_line(64, x + 410, 30, x + 410, 135);

    grid_line(66, 330, 275, 570, 275);
    grid_line(67, 570, 275, 570, 450);
    grid_line(68, 330, 275, 330, 450);
    grid_line(69, 330, 450, 570, 450);

    colours(71, 3);
    cursor(72, 20, 1);
    print_statement(73, "You mast enter next data:", 25);
    cursor(74, 22, 1);
    colours(75, 12);
    print_statement(76, " Z", 2);
    colours(77, 10);
    cursor(78, 22, 3);
    print_statement(79, "  - Number of slots", 19);
    cursor(80, 24, 1);
    colours(81, 12);
    print_statement(82, " p'", 3);
    cursor(83, 24, 3);
    colours(84, 10);
    print_statement(85, "  - Number of poles", 19);
    cursor(86, 26, 1);
    colours(87, 12);
    print_statement(88, " y1", 3);
    cursor(89, 26, 3);
    colours(90, 10);
    print_statement(91, "  - Coil pitch ", 15);
    print_statement(92, "      (if the winding have short pitch)", 39);

    dotted_line(94, 445, 275, 445, 450);
    dotted_line(95, 445, 355, 570, 355);

    key_wait();
    program_end();
}

translated_program winding_program() {
    return {window_resizable_set, program_thread_entry, program_main, nullptr};
}
