// The stock list: a small BASIC program translated by hand into calls of the lumo runtime, each
// BASIC line quoted above its calls. It prints a table with print zones, TAB, SPC and PRINT USING,
// tries string functions, reads DATA, writes a sequential file and reads it back, handles one
// error, sleeps until a timer handler has run, draws a circle and fills it on a graphics screen,
// and writes what the screen shows into SCREEN.TXT beside STOCK.TXT. It runs without a window and
// ends with exit code 0. docs/translating.md tells the rules these calls follow.
#include <lumo/core/data_items.h>
#include <lumo/core/errors.h>
#include <lumo/core/fatal_signals.h>
#include <lumo/core/number_text.h>
#include <lumo/core/print_using.h>
#include <lumo/core/program_interface.h>
#include <lumo/core/statements.h>
#include <lumo/core/string_functions.h>
#include <lumo/core/strings.h>
#include <lumo/core/timing.h>
#include <lumo/core/traps.h>
#include <lumo/core/type_codes.h>
#include <lumo/draw/circles.h>
#include <lumo/draw/flood_fill.h>
#include <lumo/draw/lines.h>
#include <lumo/files/file_open.h>
#include <lumo/files/file_system.h>
#include <lumo/files/random_access.h>
#include <lumo/files/sequential.h>
#include <lumo/runtime/chain.h>
#include <lumo/runtime/lifecycle.h>
#include <lumo/runtime/startup.h>
#include <lumo/screen/memory_blocks.h>
#include <lumo/screen/modes.h>
#include <lumo/screen/print_positioning.h>
#include <lumo/screen/text_output.h>
#include <lumo/screen/text_view.h>

#include <fpu_control.h>
#include <unistd.h>

#include <csignal>
#include <cstdint>
#include <string_view>

namespace {

// 520 DATA Bolts, 120, 0.05, "Nuts, hex", 80, .125, Washers, 2000, 1.5E-2
// The DATA block: the items of every DATA line in order, the blanks around them dropped.
constexpr std::string_view data_block = "Bolts,120,0.05,\"Nuts, hex\",80,.125,Washers,2000,1.5E-2";

constexpr variable_type_code type_integer = 16;                     // a DEFINT variable
constexpr variable_type_code type_single = type_code_float | 32;    // a ! variable

// The program's variables: made on the routine's first entry, kept for error-handler entries.
struct variables {
    bool made = false;
    memory_lock* scope_lock = nullptr;
    int32_t data_position = 0;  // the READ position in the DATA block
    string_descriptor* n = nullptr;  // N$
    string_descriptor* l = nullptr;  // L$
    int16_t i = 0, c = 0, r = 0, k = 0, x = 0, y = 0;  // DEFINT I-N, and R, X, Y
    int16_t f = 0;                                     // F%
    float p = 0, t = 0;  // P!, T!
    int32_t h[16] = {};  // H&(15)
};
variables v;

// The mark of the routine entry that runs now: each entry keeps its own and gives the outer one
// back when it returns.
uint32_t mark = 0;
class routine_entry {
public:
    routine_entry() : outer_(mark) { mark = string_temp_top(); }
    ~routine_entry() { mark = outer_; }
    routine_entry(const routine_entry&) = delete;
    routine_entry& operator=(const routine_entry&) = delete;

private:
    uint32_t outer_;
};

// One statement: its calls, the release of its temporaries, and the hook when something waits;
// with statement_retry set after the hook the statement runs again.
template <class Calls>
void statement(int32_t line, Calls calls) {
    do {
        calls();
        string_temps_release(mark, 0);
        if (!event_pending.load()) return;
        statement_hook(line);
    } while (statement_retry.load());
}

string_descriptor* literal(std::string_view text) {
    return string_from_literal(text.data(), static_cast<int32_t>(text.size()));
}

// A number item: its text and the blank after it.
string_descriptor* number_item(string_descriptor* text) { return string_concat(text, string_space); }

// Print items on the screen: a text or number, a comma, a TAB or SPC, and the end of the line.
void print_item(string_descriptor* text) {
    print_prewrap(text);
    print_string(text, 0);
}
void print_end() { print_string(string_empty, 1); }
string_descriptor* screen_tab(int32_t column) {
    print_line_end_length = 1;
    print_to_printer = 0;
    return print_tab(column);
}
string_descriptor* screen_spaces(int32_t n) {
    print_line_end_length = 1;
    print_to_printer = 0;
    return print_spaces(n);
}

// Print items on file n; the last item of a line carries the newline.
string_descriptor* file_tab(int32_t n, int32_t column) {
    print_line_end_length = 2;
    print_file_number = n;
    print_to_printer = 0;
    return print_tab(column);
}

void read_item(string_descriptor* target) {
    data_read_string(reinterpret_cast<const uint8_t*>(data_block.data()), v.data_position,
                     static_cast<int32_t>(data_block.size()), target);
}
long double read_number(variable_type_code type) {
    return data_read_number(reinterpret_cast<const uint8_t*>(data_block.data()), v.data_position,
                            static_cast<int32_t>(data_block.size()), type);
}

// 80 READ N$, C, P! (and line 190)
void read_line() {
    read_item(v.n);
    v.c = static_cast<int16_t>(read_number(type_integer));
    v.p = static_cast<float>(read_number(type_single));
}

// POINT(X, Y) as an integer.
int32_t point(float x, float y) { return static_cast<int32_t>(pixel_query(x, y, 1)); }

// Lines 500-510: the error handler, entered through a fresh call of the main routine.
void error_handler() {
    error_handler_active = 1;
    // 500 PRINT "Error"; ERR; "in line"; ERL
    statement(500, [] {
        print_item(literal("Error"));
        print_item(number_item(string_from_int16(error_code_get())));
        print_item(literal("in line"));
        print_item(number_item(string_from_int32(error_line_get())));
        print_end();
    });
    // 510 RESUME NEXT: back into the failing statement's hook, which goes on after it.
    error_handler_active = 0;
}

// Lines 600-610: the timer's handler, a subroutine called between two statements.
void timer_handler() {
    routine_entry entry;
    // 600 F% = F% + 1
    statement(600, [] { ++v.f; });
    // 610 RETURN: a RESUME inside the handler must not make the interrupted statement run again.
    statement_retry.store(0);
}

// The program's trap handlers by the numbers given to the trap statements.
constexpr int32_t handler_line_600 = 1;
void trap_handler_call(int32_t handler, int64_t) {
    if (handler == handler_line_600) timer_handler();
}

void fpe_signal_handler(int) { fatal_signal_error(error_division_by_zero); }

// The x87 unit computes extended values at full 64-bit precision.
void precision_extended() {
    fpu_control_t word;
    _FPU_GETCW(word);
    word = static_cast<fpu_control_t>(word | _FPU_EXTENDED);
    _FPU_SETCW(word);
}

void prologue() {
    if (!v.made) precision_extended();
    fatal_signal_handover_start();
    fatal_signal_handler_install(SIGFPE, fpe_signal_handler);
    if (v.made) return;
    v.scope_lock = memory_lock_new();
    v.scope_lock->kind = memory_lock_scope;
    v.n = string_new(0, 0);
    v.l = string_new(0, 0);
    v.made = true;
}

void main_routine() {
    routine_entry entry;
    prologue();
    if (error_handler_jump) {
        error_handler_jump = 0;
        error_handler();
        return;
    }
    chain_receive();

    // 10 REM Stock list: a table, a file written and read back, a filled circle, and what the
    // 20 REM screen shows written to SCREEN.TXT
    // 30 DEFINT I-N
    // 40 ON ERROR GOTO 500
    statement(40, [] { error_handler_set = 1; });
    // 50 CLS
    statement(50, [] { dest_clear(0, 0, 0); });
    // 60 PRINT "Item", "Count", "Price"
    statement(60, [] {
        print_item(literal("Item"));
        print_comma();
        print_item(literal("Count"));
        print_comma();
        print_item(literal("Price"));
        print_end();
    });
    // 70 FOR I = 1 TO 3
    statement(70, [] { v.i = 1; });
    while (v.i <= 3) {
        // 80 READ N$, C, P!
        statement(80, read_line);
        // 90 PRINT N$, C, P!
        statement(90, [] {
            print_item(v.n);
            print_comma();
            print_item(number_item(string_from_int16(v.c)));
            print_comma();
            print_item(number_item(string_from_single(v.p)));
            print_end();
        });
        // 100 T! = T! + C * P!
        statement(100, [] { v.t = static_cast<float>(v.t + static_cast<long double>(v.c) * v.p); });
        // 110 NEXT I
        statement(110, [] { ++v.i; });
    }
    // 120 PRINT "Total"; TAB(29); T!
    statement(120, [] {
        print_item(literal("Total"));
        print_string(screen_tab(29), 0);
        print_item(number_item(string_from_single(v.t)));
        print_end();
    });
    // 130 PRINT USING "Mean ##.### a line, $$#,###.## in all"; T! / 3; T! * 100
    statement(130, [] {
        string_descriptor* format = literal("Mean ##.### a line, $$#,###.## in all");
        string_descriptor* output = string_new(0, 0);
        int32_t position = print_using_single(format, v.t / 3, 0, output);
        print_using_single(format, v.t * 100, position, output);
        print_item(output);
        string_free(output);
        print_end();
    });
    // 140 PRINT UCASE$(LEFT$(N$, 4)); "-"; MID$("abcdef", 2, 3); LEN(N$); INSTR(N$, "s"); SPC(3); "|"
    statement(140, [] {
        print_item(string_to_upper(string_left(v.n, 4)));
        print_item(literal("-"));
        print_item(string_mid(literal("abcdef"), 2, 3, 1));
        print_item(number_item(string_from_int16(string_length(v.n))));
        print_item(number_item(string_from_int16(string_find(1, v.n, literal("s"), 0))));
        print_string(screen_spaces(3), 0);
        print_item(literal("|"));
        print_end();
    });
    // 150 KILL "NOFILE.TXT"
    statement(150, [] { file_kill(literal("NOFILE.TXT")); });
    // 160 OPEN "STOCK.TXT" FOR OUTPUT AS #1
    statement(160, [] { file_open(literal("STOCK.TXT"), open_mode_output, open_access_none, open_lock_none, 1, 0, 0); });
    // 170 RESTORE
    statement(170, [] { v.data_position = 0; });
    // 180 FOR I = 1 TO 3
    statement(180, [] { v.i = 1; });
    while (v.i <= 3) {
        // 190 READ N$, C, P!
        statement(190, read_line);
        // 200 PRINT #1, N$; TAB(16); C, P!
        statement(200, [] {
            file_print_text(1, v.n, 0, 0, 0);
            file_print_text(1, file_tab(1, 16), 0, 0, 0);
            file_print_text(1, string_from_int16(v.c), 1, 1, 0);
            file_print_text(1, string_from_single(v.p), 1, 0, 1);
        });
        // 210 NEXT I
        statement(210, [] { ++v.i; });
    }
    // 220 CLOSE #1
    statement(220, [] { file_close(1, 1); });
    // 230 OPEN "STOCK.TXT" FOR INPUT AS #1
    statement(230, [] { file_open(literal("STOCK.TXT"), open_mode_input, open_access_none, open_lock_none, 1, 0, 0); });
    for (;;) {
        // 240 WHILE NOT EOF(1)
        bool more = false;
        statement(240, [&] { more = file_eof(1) == 0; });
        if (!more) break;
        // 250 LINE INPUT #1, L$
        statement(250, [] { file_line_input(1, v.l); });
        // 260 PRINT "> "; L$
        statement(260, [] {
            print_item(literal("> "));
            print_item(v.l);
            print_end();
        });
        // 270 WEND
        statement(270, [] {});
    }
    // 280 CLOSE #1
    statement(280, [] { file_close(1, 1); });
    // 282 ON TIMER(.05) GOSUB 600: TIMER ON
    statement(282, [] { timer_trap_set(0, 0.05, handler_line_600, 0); });
    statement(282, [] { timer_trap_state(0, trap_action_on, 0); });
    // 284 SLEEP 5
    statement(284, [] { sleep_seconds(5, 1); });
    // 286 TIMER OFF
    statement(286, [] { timer_trap_state(0, trap_action_off, 0); });
    // 288 IF F% > 0 THEN PRINT "Timer handler ran"
    statement(288, [] {
        if (v.f <= 0) return;
        print_item(literal("Timer handler ran"));
        print_end();
    });
    // 290 OPEN "SCREEN.TXT" FOR OUTPUT AS #2
    statement(290, [] { file_open(literal("SCREEN.TXT"), open_mode_output, open_access_none, open_lock_none, 2, 0, 0); });
    // 300 FOR R = 1 TO 12
    statement(300, [] { v.r = 1; });
    while (v.r <= 12) {
        // 310 L$ = ""
        statement(310, [] { string_assign(v.l, literal("")); });
        // 320 FOR K = 1 TO 80: L$ = L$ + CHR$(SCREEN(R, K)): NEXT K
        statement(320, [] { v.k = 1; });
        while (v.k <= 80) {
            statement(320, [] {
                string_assign(v.l, string_concat(v.l, string_from_char_code(screen_char_read(v.r, v.k, 0, 0))));
            });
            statement(320, [] { ++v.k; });
        }
        // 330 PRINT #2, RTRIM$(L$)
        statement(330, [] { file_print_text(2, string_trim_right(v.l), 0, 0, 1); });
        // 340 NEXT R
        statement(340, [] { ++v.r; });
    }
    // 350 SCREEN 9
    statement(350, [] { screen_mode_set(9, 0, 0, 0, 0, 1); });
    // 360 PRINT "Circle"
    statement(360, [] {
        print_item(literal("Circle"));
        print_end();
    });
    // 370 CIRCLE (320, 175), 100, 14
    statement(370, [] { circle_draw(320, 175, 100, 14, 0, 0, 0, circle_colour_given); });
    // 380 PAINT (320, 175), 1, 14
    statement(380, [] { paint_fill(320, 175, 1, 14, nullptr, fill_paint_given | fill_border_given); });
    // 390 L$ = ""
    statement(390, [] { string_assign(v.l, literal("")); });
    // 400 FOR K = 1 TO 6: L$ = L$ + CHR$(SCREEN(1, K)): NEXT K
    statement(400, [] { v.k = 1; });
    while (v.k <= 6) {
        statement(400, [] {
            string_assign(v.l, string_concat(v.l, string_from_char_code(screen_char_read(1, v.k, 0, 0))));
        });
        statement(400, [] { ++v.k; });
    }
    // 410 PRINT #2, L$; POINT(320, 175); POINT(420, 175); POINT(0, 349)
    statement(410, [] {
        file_print_text(2, v.l, 0, 0, 0);
        file_print_text(2, string_from_int32(point(320, 175)), 1, 0, 0);
        file_print_text(2, string_from_int32(point(420, 175)), 1, 0, 0);
        file_print_text(2, string_from_int32(point(0, 349)), 1, 0, 1);
    });
    // 420 DIM H&(15)
    statement(420, [] {
        for (int32_t& count : v.h) count = 0;
    });
    // 430 FOR Y = 0 TO 349: FOR X = 0 TO 639: H&(POINT(X, Y)) = H&(POINT(X, Y)) + 1: NEXT X, Y
    statement(430, [] { v.y = 0; });
    while (v.y <= 349) {
        statement(430, [] { v.x = 0; });
        while (v.x <= 639) {
            statement(430, [] {
                int32_t colour = point(v.x, v.y);
                if (colour < 0 || colour > 15) return error_raise(error_subscript_out_of_range);
                v.h[colour] = v.h[colour] + 1;
            });
            statement(430, [] { ++v.x; });
        }
        statement(430, [] { ++v.y; });
    }
    // 440 FOR K = 0 TO 15
    statement(440, [] { v.k = 0; });
    while (v.k <= 15) {
        // 450 IF H&(K) > 0 THEN PRINT #2, "Colour"; K; TAB(12); H&(K)
        statement(450, [] {
            if (v.h[v.k] <= 0) return;
            file_print_text(2, literal("Colour"), 0, 0, 0);
            file_print_text(2, string_from_int16(v.k), 1, 0, 0);
            file_print_text(2, file_tab(2, 12), 0, 0, 0);
            file_print_text(2, string_from_int32(v.h[v.k]), 1, 0, 1);
        });
        // 460 NEXT K
        statement(460, [] { ++v.k; });
    }
    // 470 CLOSE #2
    statement(470, [] { file_close(2, 1); });
    // 480 END
    program_end();
}

void program_thread_entry() { main_routine(); }

// Translated without a window: the program starts hidden and never shows one, so END stops at once.
void window_options() { start_hidden_option = 1; }

}  // namespace

int main(int argc, char** argv) {
    program_register({window_options, program_thread_entry, main_routine, trap_handler_call});
    runtime_start(argc, argv);
    // The process ends from the control thread once the program has stopped.
    for (;;) pause();
}
