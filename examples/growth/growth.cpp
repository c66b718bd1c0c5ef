// The growth table: a small BASIC program translated by hand into calls of the lumo runtime, each
// BASIC line quoted above its calls, with the lines as goto labels. It reads a number and a name
// from standard input on the console page, fills an array in a FOR loop, prints a table with a
// count-down FOR loop and a GOSUB subroutine on a tall text image, handles a million subscript
// errors with RESUME to a line inside a loop, copies the table back from the image to standard
// output, meets a RETURN without GOSUB and dimensions, erases and dimensions its array again. Then
// it reads texts from DATA, takes their values with VAL and rounds them with INT, FIX, CINT and a DEF
// FN called once before its definition, takes a price list apart with INSTR and MID$ and adds the
// prices, and raises an error with ERROR. Two LETs hit by error 5 and resumed with RESUME NEXT leave
// their variables as they were. It runs without a window and ends with exit code 0.
// Beyond the BASIC program it checks that handling the errors kept the stack and memory flat and
// says so on standard error when not. docs/translating.md tells the rules these calls follow.
#include <lumo/core/data_items.h>
#include <lumo/core/error_codes.h>
#include <lumo/core/errors.h>
#include <lumo/core/fatal_signals.h>
#include <lumo/core/maths.h>
#include <lumo/core/number_parse.h>
#include <lumo/core/number_text.h>
#include <lumo/core/program_interface.h>
#include <lumo/core/stacks.h>
#include <lumo/core/statements.h>
#include <lumo/core/stores.h>
#include <lumo/core/string_functions.h>
#include <lumo/core/strings.h>
#include <lumo/core/type_codes.h>
#include <lumo/display/line_editor.h>
#include <lumo/display/window.h>
#include <lumo/runtime/chain.h>
#include <lumo/runtime/lifecycle.h>
#include <lumo/runtime/startup.h>
#include <lumo/screen/image_handles.h>
#include <lumo/screen/image_pool.h>
#include <lumo/screen/memory_blocks.h>
#include <lumo/screen/print_positioning.h>
#include <lumo/screen/text_output.h>
#include <lumo/screen/text_view.h>

#include <fpu_control.h>
#include <unistd.h>

#include <cmath>
#include <csignal>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <limits>
#include <string_view>
#include <utility>

namespace {

constexpr variable_type_code type_single = type_code_float | 32;  // a ! variable

// 295 DATA 2.5, 3.5, -2.5, " -1.005", 1E3, &H1F, 12abc, 32767.5, *
// The DATA block: the items of every DATA line in order, the blanks around them dropped.
constexpr std::string_view data_block = "2.5,3.5,-2.5,\" -1.005\",1E3,&H1F,12abc,32767.5,*";

// The program's variables: made on the routine's first entry, kept for error-handler entries.
struct variables {
    bool made = false;
    memory_lock* scope_lock = nullptr;
    int16_t i = 0, k = 0, r = 0;   // DEFINT I-N, and R
    int16_t w = 0;                 // W%
    int32_t k_long = 0, e = 0;     // K&, E&
    float p = 0;                   // P!
    string_descriptor* n = nullptr;  // N$
    string_descriptor* l = nullptr;  // L$
    array_descriptor_of<1> b{};      // B!()
    int32_t transcript = 0;          // T&: the tall text image the table is printed on
    // Translator's words: a FOR's end test, the return point RETURN took, the RESUME target.
    bool loop_done = false;
    int32_t return_point = 0;
    int32_t resume_line = 0;
    int64_t return_top = 0;  // entries used on return_stack
    bool handler_other = false;
    // Lines 281-289: T$, C$, G$; the singles Y, A, S, Q, D, U; the READ position; DEF FNC made.
    string_descriptor* t = nullptr;
    string_descriptor* c = nullptr;
    string_descriptor* g = nullptr;
    float y = 0, a = 0, s = 0, q = 0, d = 0, u = 0;
    int32_t data_position = 0;
    bool fnc_defined = false;
    bool test = false;  // an IF's condition
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
// with statement_retry set after the hook the statement runs again. False when the handler's
// RESUME to a line ended it: the routine then goes to v.resume_line.
template <class Calls>
bool statement(int32_t line, Calls calls) {
    do {
        calls();
        string_temps_release(mark, 0);
        if (!event_pending.load()) return true;
        statement_hook(line);
        if (v.resume_line) return false;
    } while (statement_retry.load());
    return true;
}

string_descriptor* literal(std::string_view text) {
    return string_from_literal(text.data(), static_cast<int32_t>(text.size()));
}

// Print items: a text, a number with its trailing blank, the end of the line.
void print_item(string_descriptor* text) {
    print_prewrap(text);
    print_string(text, 0);
}
void print_number(string_descriptor* text) { print_item(string_concat(text, string_space)); }
void print_end() { print_string(string_empty, 1); }
string_descriptor* screen_tab(int32_t column) {
    print_line_end_length = 1;
    print_to_printer = 0;
    return print_tab(column);
}

// INPUT: the prompt as the statement shows it, then one target read by the line editor.
void input_one(std::string_view prompt, void* target, variable_type_code type) {
    print_string(literal(prompt), 0);
    input_target_list[1] = target;
    input_type_list[1] = type;
    input_line_edit(1, 1);
}

// A single value stored into a % variable: rounded to nearest, ties to even; error 6 out of range,
// and the variable keeps its value.
void store_int16(int16_t& variable, float value) {
    int32_t rounded = float_to_int32(value);
    if (rounded < std::numeric_limits<int16_t>::min() || rounded > std::numeric_limits<int16_t>::max())
        return error_raise(error_overflow);
    number_store(variable, static_cast<int16_t>(rounded));
}
// CINT of a single: the same rounding and range, 0 after error 6.
int16_t cint(float value) {
    int16_t result = 0;
    store_int16(result, value);
    return result;
}
// INT and FIX of a single, whose argument was rounded to single where it was passed: a single.
float int_of(float value) { return std::floor(value); }
float fix_of(float value) { return static_cast<float>(math_truncate_double(value)); }

// DEF FNC(X) = INT(X * 100 + .5) / 100, a single function of a single parameter: the argument is
// rounded to the parameter's type, the result to the function's. Defined once the DEF statement has
// run; a call before that is error 18 and gives 0.
float fn_c(long double argument) {
    if (!v.fnc_defined) return error_raise(error_function_not_defined), 0.0f;
    float x = static_cast<float>(argument);
    return static_cast<float>(int_of(static_cast<float>(x * 100.0L + 0.5f)) / 100.0L);
}

// INSTR(start, s, pattern) as a single: a start below 1 is error 5 (the runtime would count it as 1).
float instr(float start, string_descriptor* s, string_descriptor* pattern) {
    int32_t from = float_to_int32(start);
    if (from < 1) return error_raise(error_illegal_function_call), 0.0f;
    return static_cast<float>(string_find(from, s, pattern, 1));
}
// LEFT$(s, n): a count below 0 is error 5 (the runtime would give "").
string_descriptor* left(string_descriptor* s, int32_t n) {
    if (n < 0) error_raise(error_illegal_function_call);
    return string_left(s, n);
}
// VAL: the text's number as a double.
double val(string_descriptor* s) { return static_cast<double>(string_to_number(s)); }

// READ of a string variable from the DATA block.
void read_item(string_descriptor* target) {
    data_read_string(reinterpret_cast<const uint8_t*>(data_block.data()), v.data_position,
                     static_cast<int32_t>(data_block.size()), target);
}

// FOR's end test: the variable is past the end in the step's direction.
template <class T>
bool for_past_end(T value, T end, T step) {
    return step >= 0 ? value > end : value < end;
}
// NEXT's step, in the variable's own type: error 6 leaves it unchanged.
template <class T>
void next_step(T& value, T step) {
    int64_t next = int64_t{value} + step;
    if (next < std::numeric_limits<T>::min() || next > std::numeric_limits<T>::max()) return error_raise(error_overflow);
    value = static_cast<T>(next);
}

// DIM of a one-dimensional single array: zeroed elements; a dimensioned array is error 10.
void array_dim(array_descriptor_of<1>& a, int32_t lower, int32_t upper) {
    if (a.header.flags & array_allocated) return error_raise(error_duplicate_definition);
    int32_t count = upper - lower + 1;
    a.header.data = std::calloc(static_cast<size_t>(count), sizeof(float));
    if (!a.header.data) return error_raise(error_out_of_memory);
    a.dimensions[0].lower_bound = lower;
    a.dimensions[0].count = count;
    a.header.flags |= array_allocated;
}
// ERASE: the elements freed and the array no longer dimensioned.
void array_erase(array_descriptor_of<1>& a) {
    std::free(a.header.data);
    a.header.data = nullptr;
    a.header.flags &= ~array_allocated;
}
// An element, or after error 9 (index outside the bounds) a scratch one, so the statement runs to
// its end with no effect.
float& element(array_descriptor_of<1>& a, int32_t index) {
    static float scratch;
    const array_dimension& d = a.dimensions[0];
    if (!(a.header.flags & array_allocated) || index < d.lower_bound || index - d.lower_bound >= d.count) {
        error_raise(error_subscript_out_of_range);
        return scratch;
    }
    return static_cast<float*>(a.header.data)[index - d.lower_bound];
}

// GOSUB keeps its return point on return_stack; RETURN takes it back, error 3 and 0 when empty.
void gosub_push(int32_t point) {
    if (v.return_top == return_stack.capacity) return_stack_grow();
    return_stack.entries[v.return_top++] = point;
}
int32_t gosub_pop() {
    if (v.return_top == 0) return error_raise(error_return_without_gosub), 0;
    return return_stack.entries[--v.return_top];
}
// The GOSUB sites, as return points.
enum : int32_t { return_to_150 = 1 };

// The example's own check, not part of the BASIC program: every handler entry starts at the same
// stack depth, and the process's peak memory stays put while the errors are handled.
struct flat_check {
    const void* first_frame = nullptr;
    bool frames_differ = false;
    long peak_at_first_kb = 0;
};
flat_check flat;
long peak_memory_kb() {
    FILE* status = std::fopen("/proc/self/status", "r");
    if (!status) return 0;
    char row[256];
    long kb = 0;
    while (std::fgets(row, sizeof row, status))
        if (std::sscanf(row, "VmHWM: %ld kB", &kb) == 1) break;
    std::fclose(status);
    return kb;
}
void handler_entered(const void* frame) {
    if (flat.first_frame) {
        flat.frames_differ |= frame != flat.first_frame;
        return;
    }
    flat.first_frame = frame;
    flat.peak_at_first_kb = peak_memory_kb();
}
constexpr long peak_growth_allowed_kb = 1024;
void flat_report() {
    long growth = peak_memory_kb() - flat.peak_at_first_kb;
    if (flat.frames_differ) std::fprintf(stderr, "handler entries at different stack depths\n");
    if (growth > peak_growth_allowed_kb) std::fprintf(stderr, "peak memory grew %ld kB\n", growth);
}

// Lines 500-520: the error handler, entered through a fresh call of the main routine. Each RESUME
// returns from that call; RESUME to a line leaves the line for the interrupted entry to go to.
void error_handler() {
    error_handler_active = 1;
    handler_entered(__builtin_frame_address(0));
    // 500 IF ERL <> 170 THEN PRINT "Error"; ERR; "in line"; ERL: RESUME NEXT
    statement(500, [] { v.handler_other = error_line_get() != 170; });
    if (v.handler_other) {
        statement(500, [] {
            print_item(literal("Error"));
            print_number(string_from_int16(error_code_get()));
            print_item(literal("in line"));
            print_number(string_from_int32(error_line_get()));
            print_end();
        });
        error_handler_active = 0;
        return;
    }
    // 510 E& = E& + 1
    statement(510, [] { next_step<int32_t>(v.e, 1); });
    // 520 RESUME 180
    error_handler_active = 0;
    v.resume_line = 180;
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
    v.t = string_new(0, 0);
    v.c = string_new(0, 0);
    v.g = string_new(0, 0);
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

    // 10 REM Growth table: a rate and a name read from standard input, a table printed on a text
    // 20 REM image and copied to standard output, and a million subscript errors handled on the way
    // 30 DEFINT I-N
    // 40 DIM B!(5)
    if (!statement(40, [] { array_dim(v.b, 0, 5); })) goto resume;
    // 50 ON ERROR GOTO 500
    if (!statement(50, [] { error_handler_set = 1; })) goto resume;
    // 60 (the console page) INPUT "Growth in percent"; P!
    if (!statement(60, [] { dest_image_select(console_image_handle); })) goto resume;
    if (!statement(60, [] { input_one("Growth in percent? ", &v.p, type_single); })) goto resume;
    // 70 INPUT "Dish: ", N$
    if (!statement(70, [] { input_one("Dish: ", v.n, type_code_string); })) goto resume;
    // 80 PRINT N$, "at"; P!; "percent"
    if (!statement(80, [] {
            print_item(v.n);
            print_comma();
            print_item(literal("at"));
            print_number(string_from_single(v.p));
            print_item(literal("percent"));
            print_end();
        }))
        goto resume;
    // 90 B!(0) = 3
    if (!statement(90, [] { number_store(element(v.b, 0), 3); })) goto resume;
    // 100 FOR I = 1 TO 5: B!(I) = B!(I - 1) * (1 + P! / 100): NEXT I
    if (!statement(100, [] {
            v.i = 1;
            v.loop_done = for_past_end<int16_t>(v.i, 5, 1);
        }))
        goto resume;
    if (v.loop_done) goto line_100_done;
line_100_body:
    if (!statement(100, [] {
            long double grown = element(v.b, v.i - 1) * (1 + static_cast<long double>(v.p) / 100);
            number_store(element(v.b, v.i), static_cast<float>(grown));
        }))
        goto resume;
    if (!statement(100, [] {
            next_step<int16_t>(v.i, 1);
            v.loop_done = for_past_end<int16_t>(v.i, 5, 1);
        }))
        goto resume;
    if (!v.loop_done) goto line_100_body;
line_100_done:
    // 110 T& = (a text image of 80 columns and 2000 rows): (output to it and read from it): CLS
    if (!statement(110, [] { number_store(v.transcript, image_handle_new(80, 2000, 0, 1)); })) goto resume;
    if (!statement(110, [] {
            dest_image_select(v.transcript);
            source_image_select(v.transcript);
        }))
        goto resume;
    if (!statement(110, [] { dest_clear(0, 0, 0); })) goto resume;
    // 120 PRINT "Day", "Cells"; TAB(24); "Whole cells"
    if (!statement(120, [] {
            print_item(literal("Day"));
            print_comma();
            print_item(literal("Cells"));
            print_string(screen_tab(24), 0);
            print_item(literal("Whole cells"));
            print_end();
        }))
        goto resume;
    // 130 FOR I = 5 TO 1 STEP -1
    if (!statement(130, [] {
            v.i = 5;
            v.loop_done = for_past_end<int16_t>(v.i, 1, -1);
        }))
        goto resume;
    if (v.loop_done) goto line_150_done;
line_140:
    // 140 GOSUB 300
    if (!statement(140, [] { gosub_push(return_to_150); })) goto resume;
    goto line_300;
line_150:
    // 150 NEXT I
    if (!statement(150, [] {
            next_step<int16_t>(v.i, -1);
            v.loop_done = for_past_end<int16_t>(v.i, 1, -1);
        }))
        goto resume;
    if (!v.loop_done) goto line_140;
line_150_done:
    // 160 FOR K& = 1 TO 1000000
    if (!statement(160, [] {
            v.k_long = 1;
            v.loop_done = for_past_end<int32_t>(v.k_long, 1000000, 1);
        }))
        goto resume;
    if (v.loop_done) goto line_180_done;
line_170:
    // 170 B!(6) = K&: subscript error 9, handled at 500, which resumes at 180
    if (!statement(170, [] { number_store(element(v.b, 6), static_cast<float>(v.k_long)); })) goto resume;
line_180:
    // 180 NEXT K&
    if (!statement(180, [] {
            next_step<int32_t>(v.k_long, 1);
            v.loop_done = for_past_end<int32_t>(v.k_long, 1000000, 1);
        }))
        goto resume;
    if (!v.loop_done) goto line_170;
line_180_done:
    // 190 (output to the console page) FOR R = 1 TO 6
    if (!statement(190, [] { dest_image_select(console_image_handle); })) goto resume;
    if (!statement(190, [] {
            v.r = 1;
            v.loop_done = for_past_end<int16_t>(v.r, 6, 1);
        }))
        goto resume;
    if (v.loop_done) goto line_220_done;
line_200:
    // 200 L$ = "": FOR K = 1 TO 40: L$ = L$ + CHR$(SCREEN(R, K)): NEXT K
    if (!statement(200, [] { string_assign(v.l, literal("")); })) goto resume;
    if (!statement(200, [] {
            v.k = 1;
            v.loop_done = for_past_end<int16_t>(v.k, 40, 1);
        }))
        goto resume;
    if (v.loop_done) goto line_200_done;
line_200_body:
    if (!statement(200, [] {
            string_assign(v.l, string_concat(v.l, string_from_char_code(screen_char_read(v.r, v.k, 0, 0))));
        }))
        goto resume;
    if (!statement(200, [] {
            next_step<int16_t>(v.k, 1);
            v.loop_done = for_past_end<int16_t>(v.k, 40, 1);
        }))
        goto resume;
    if (!v.loop_done) goto line_200_body;
line_200_done:
    // 210 PRINT RTRIM$(L$)
    if (!statement(210, [] {
            print_item(string_trim_right(v.l));
            print_end();
        }))
        goto resume;
    // 220 NEXT R
    if (!statement(220, [] {
            next_step<int16_t>(v.r, 1);
            v.loop_done = for_past_end<int16_t>(v.r, 6, 1);
        }))
        goto resume;
    if (!v.loop_done) goto line_200;
line_220_done:
    // 230 PRINT E&; "subscript errors handled"
    if (!statement(230, [] {
            print_number(string_from_int32(v.e));
            print_item(literal("subscript errors handled"));
            print_end();
        }))
        goto resume;
    flat_report();
    // 240 RETURN: error 3, and the handler's RESUME NEXT goes on with line 250
    if (!statement(240, [] { v.return_point = gosub_pop(); })) goto resume;
    if (v.return_point) goto return_dispatch;
    // 250 DIM B!(5): error 10, B! is dimensioned
    if (!statement(250, [] { array_dim(v.b, 0, 5); })) goto resume;
    // 260 ERASE B!
    if (!statement(260, [] { array_erase(v.b); })) goto resume;
    // 270 PRINT LBOUND(B!): error 9, B! is erased
    if (!statement(270, [] {
            print_number(string_from_int32(array_lower_bound(&v.b.header, 1, 1)));
            print_end();
        }))
        goto resume;
    // 280 DIM B!(2): PRINT UBOUND(B!)
    if (!statement(280, [] { array_dim(v.b, 0, 2); })) goto resume;
    if (!statement(280, [] {
            print_number(string_from_int32(array_upper_bound(&v.b.header, 1, 1)));
            print_end();
        }))
        goto resume;
    // 281 PRINT FNC(1): DEF FNC(X) = INT(X * 100 + .5) / 100: error 18, FNC is not defined yet
    if (!statement(281, [] {
            print_number(string_from_single(fn_c(1)));
            print_end();
        }))
        goto resume;
    if (!statement(281, [] { v.fnc_defined = true; })) goto resume;
line_282:
    // 282 READ T$: IF T$ = "*" THEN 284
    if (!statement(282, [] { read_item(v.t); })) goto resume;
    if (!statement(282, [] { v.test = string_equal(v.t, literal("*")) != 0; })) goto resume;
    if (v.test) goto line_284;
    // 283 Y = VAL(T$): PRINT T$; " ="; Y; INT(Y); FIX(Y); CINT(Y); FNC(Y): GOTO 282
    // CINT(32767.5) is error 6: what the PRINT printed before it stays, the rest does nothing.
    if (!statement(283, [] { number_store(v.y, static_cast<float>(val(v.t))); })) goto resume;
    if (!statement(283, [] {
            print_item(v.t);
            print_item(literal(" ="));
            print_number(string_from_single(v.y));
            print_number(string_from_single(int_of(v.y)));
            print_number(string_from_single(fix_of(v.y)));
            print_number(string_from_int16(cint(v.y)));
            print_number(string_from_single(fn_c(v.y)));
            print_end();
        }))
        goto resume;
    goto line_282;
line_284:
    // 284 C$ = "Tea 2.35;Cake 3.1;Jam 12.5": Q = 1
    if (!statement(284, [] { string_assign(v.c, literal("Tea 2.35;Cake 3.1;Jam 12.5")); })) goto resume;
    if (!statement(284, [] { number_store(v.q, 1); })) goto resume;
line_285:
    // 285 D = INSTR(Q, C$, ";"): IF D = 0 THEN D = LEN(C$) + 1
    if (!statement(285, [] { number_store(v.d, instr(v.q, v.c, literal(";"))); })) goto resume;
    if (!statement(285, [] { v.test = v.d == 0; })) goto resume;
    if (v.test && !statement(285, [] { number_store(v.d, static_cast<float>(string_length(v.c) + 1)); })) goto resume;
    // 286 G$ = MID$(C$, Q, D - Q): U = INSTR(G$, " "): A = VAL(MID$(G$, U + 1)): S = S + A
    if (!statement(286, [] {
            int32_t count = float_to_int32(static_cast<float>(v.d - static_cast<long double>(v.q)));
            string_assign(v.g, string_mid(v.c, float_to_int32(v.q), count, 1));
        }))
        goto resume;
    if (!statement(286, [] { number_store(v.u, instr(1, v.g, literal(" "))); })) goto resume;
    if (!statement(286, [] {
            int32_t start = float_to_int32(static_cast<float>(v.u + 1.0L));
            number_store(v.a, static_cast<float>(val(string_mid(v.g, start, 0, 0))));
        }))
        goto resume;
    if (!statement(286, [] { number_store(v.s, static_cast<float>(v.s + static_cast<long double>(v.a))); })) goto resume;
    // 287 PRINT LEFT$(G$, U - 1); SPACE$(6 - U); STRING$(3, "."); STR$(A): Q = D + 1: IF Q <= LEN(C$) THEN 285
    if (!statement(287, [] {
            print_item(string_left(v.g, float_to_int32(static_cast<float>(v.u - 1.0L))));
            print_item(string_spaces(float_to_int32(static_cast<float>(6.0L - v.u))));
            print_item(string_repeat_byte(3, string_char_code(literal("."))));
            print_item(string_from_single(v.a));
            print_end();
        }))
        goto resume;
    if (!statement(287, [] { number_store(v.q, static_cast<float>(v.d + 1.0L)); })) goto resume;
    if (!statement(287, [] { v.test = v.q <= string_length(v.c); })) goto resume;
    if (v.test) goto line_285;
    // 288 PRINT "Total"; S; "or"; CINT(S * 100); "cents"
    if (!statement(288, [] {
            print_item(literal("Total"));
            print_number(string_from_single(v.s));
            print_item(literal("or"));
            print_number(string_from_int16(cint(static_cast<float>(v.s * 100.0L))));
            print_item(literal("cents"));
            print_end();
        }))
        goto resume;
    // 289 ERROR 57: a number of 1 to 255 is raised as it is
    if (!statement(289, [] { error_raise(57); })) goto resume;
    // 290 G$ = LEFT$(G$, -1): A = SQR(-A): error 5 each; the statement ends at its error, so after
    // RESUME NEXT both variables hold what they held before
    if (!statement(290, [] { string_assign(v.g, left(v.g, -1)); })) goto resume;
    if (!statement(290, [] { number_store(v.a, static_cast<float>(math_sqrt(-v.a))); })) goto resume;
    // 291 PRINT G$; A
    if (!statement(291, [] {
            print_item(v.g);
            print_number(string_from_single(v.a));
            print_end();
        }))
        goto resume;
    // 292 END
    program_end();

line_300:
    // 300 W% = B!(I)
    if (!statement(300, [] { store_int16(v.w, element(v.b, v.i)); })) goto resume;
    // 310 PRINT I, B!(I); TAB(W% / 2 + 22); "*"; W%
    if (!statement(310, [] {
            print_number(string_from_int16(v.i));
            print_comma();
            print_number(string_from_single(element(v.b, v.i)));
            print_string(screen_tab(float_to_int32(static_cast<float>(v.w / 2.0L + 22))), 0);
            print_item(literal("*"));
            print_number(string_from_int16(v.w));
            print_end();
        }))
        goto resume;
    // 320 RETURN
    if (!statement(320, [] { v.return_point = gosub_pop(); })) goto resume;
    if (v.return_point) goto return_dispatch;
    program_end();  // never reached: every RETURN at 320 has its GOSUB at 140

return_dispatch:
    switch (v.return_point) {
        case return_to_150: goto line_150;
    }
    program_end();  // no other return points

resume:
    // The handler's entry has returned: the interrupted statement's loop is left, and the program
    // goes on at the line its RESUME named.
    switch (std::exchange(v.resume_line, 0)) {
        case 180: goto line_180;
    }
    program_end();  // no other RESUME targets
}

void program_thread_entry() { main_routine(); }

// Translated without a window, with the console page: the program reads standard input, writes
// standard output, and its END asks for one more line of standard input.
void window_options() {
    start_hidden_option = 1;
    console_option = 1;
}

}  // namespace

int main(int argc, char** argv) {
    program_register({window_options, program_thread_entry, main_routine, nullptr});
    runtime_start(argc, argv);
    // The process ends from the control thread once the program has stopped.
    for (;;) pause();
}
