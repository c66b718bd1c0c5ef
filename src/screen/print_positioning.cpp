#include "screen/print_positioning.h"

#include <algorithm>
#include <cstring>

#include "core/error_codes.h"
#include "core/errors.h"
#include "core/strings.h"
#include "screen/boxes.h"
#include "screen/fonts.h"
#include "screen/image_pool.h"
#include "screen/text_output.h"

int32_t print_line_end_length = 1;
int32_t print_file_number = 0;
int32_t print_to_printer = 0;

namespace {

constexpr int32_t zone_columns = 14;
constexpr int32_t zone_pixels = 112;
constexpr int32_t argument_min = -32768;
constexpr int32_t argument_max = 32767;
constexpr int32_t file_line_end = 2;
constexpr int64_t file_line_width = 2147483647;

print_position_seams seams;

// One print line of the destination: its width and the size of one space in the same unit
// (columns, or pixels with a proportional font), and the cursor's column. An image narrower than
// one character still has one column.
struct print_line {
    int64_t width;
    int64_t unit;
    int64_t column;
};

print_line screen_line(const image_record* r) {
    if (r->is_text) return {std::max<int64_t>(r->width, 1), 1, r->cursor_column};
    if (int32_t advance = font_advance_width(r->font))
        return {std::max<int64_t>(r->width / advance, 1), 1, r->cursor_column};
    int64_t space = std::max(text_pixel_width(string_space, 0, 0), 1);
    return {std::max<int64_t>(r->width, 1), space, r->cursor_column};
}

bool to_file() { return print_line_end_length == file_line_end; }

// For the rest of a tab or space call, printer output positions on the printer page.
class printer_selection {
public:
    printer_selection() {
        if (!print_to_printer || !seams.printer_page_handle) return;
        int32_t slot = image_handle_slot(seams.printer_page_handle());
        if (!slot) return;
        previous_ = dest_image_index;
        dest_slot_select(slot);
        selected_ = true;
    }
    ~printer_selection() {
        if (selected_) dest_slot_select(previous_);
    }
    printer_selection(const printer_selection&) = delete;
    printer_selection& operator=(const printer_selection&) = delete;

private:
    int32_t previous_ = 0;
    bool selected_ = false;
};

// A temporary string: a line end when asked (CR, or CR LF for a file), then spaces.
string_descriptor* position_text(bool line_end, int64_t spaces) {
    int64_t end = line_end ? (to_file() ? 2 : 1) : 0;
    spaces = std::max<int64_t>(spaces, 0);
    string_descriptor* s = string_new(static_cast<uint32_t>(end + spaces), 1);
    if (end > 0) s->text[0] = '\r';
    if (end > 1) s->text[1] = '\n';
    if (spaces > 0) std::memset(s->text + end, ' ', size_t(spaces));
    return s;
}

bool argument_valid(int32_t n) {
    if (n >= argument_min && n <= argument_max) return true;
    error_raise(error_out_of_memory);
    return false;
}

int64_t ceil_div(int64_t a, int64_t b) { return a > 0 ? (a + b - 1) / b : -((-a) / b); }

void comma_fixed(int64_t width) {
    image_record* r = dest_image;
    for (;;) {
        print_string(string_space, 0);
        int64_t c = r->cursor_column;
        bool zone_fits = width - c + 1 >= zone_columns;  // a whole zone left from this column
        if (c == 1 || ((c - 1) % zone_columns == 0 && zone_fits) || c >= width || error_pending()) return;
    }
}

void comma_proportional() {
    image_record* r = dest_image;
    int32_t h = font_glyph_height(r->font);
    int32_t x = r->cursor_column - 1, stop = (x / zone_pixels + 1) * zone_pixels;
    int32_t y1 = (r->cursor_row - 1) * h, y2 = r->cursor_row * h - 1;
    if (stop < r->width) {
        dest_rect_fill(x, y1, stop - 1, y2, r->back_color);
        r->cursor_column = static_cast<int16_t>(stop);
        return;
    }
    dest_rect_fill(x, y1, r->width - 1, y2, r->back_color);
    text_newline();
}

}  // namespace

void print_position_seams_set(const print_position_seams& s) { seams = s; }
void print_position_printer_seam_set(int32_t (*printer_page_handle)()) { seams.printer_page_handle = printer_page_handle; }

void print_position_file_seam_set(int32_t (*file_print_column)(int32_t)) { seams.file_print_column = file_print_column; }

void print_comma() {
    if (error_pending()) return;
    image_record* r = dest_image;
    if (r->pending_newline) {
        text_newline();
        r->pending_newline = 0;
        return;
    }
    if (image_proportional(r)) return comma_proportional();
    comma_fixed(screen_line(r).width);
}

string_descriptor* print_tab(int32_t n) {
    if (error_pending()) return string_empty;
    printer_selection printer;
    print_line line;
    if (to_file()) {
        int32_t column = seams.file_print_column ? seams.file_print_column(print_file_number) : 0;
        line = {file_line_width, 1, column > 0 ? column : 1};
    } else {
        line = screen_line(dest_image);
    }
    if (!argument_valid(n)) return string_empty;
    int64_t to = n;
    if (to > line.width) to %= line.width;
    if (to <= 0) to = 1;
    if (to < line.column) return position_text(true, ceil_div(to, line.unit) - 1);
    return position_text(false, ceil_div(to - line.column, line.unit));
}

string_descriptor* print_spaces(int32_t n) {
    if (error_pending()) return string_empty;
    if (!argument_valid(n)) return string_empty;
    int64_t count = std::max(n, 0);
    if (to_file()) return position_text(false, count);
    printer_selection printer;
    print_line line = screen_line(dest_image);
    int64_t left = (line.width - line.column + 1) / line.unit;
    count %= std::max<int64_t>(line.width / line.unit, 1);
    if (count > left) return position_text(true, count - left);
    return position_text(false, count);
}

int32_t cursor_row_get() {
    if (error_pending()) return 0;
    const image_record* r = dest_image;
    if (r->pending_newline) return std::min<int32_t>(r->cursor_row + 1, r->view_bottom);
    return r->cursor_row;
}

int32_t cursor_column_get() {
    if (error_pending()) return 0;
    const image_record* r = dest_image;
    return r->pending_newline ? 1 : r->cursor_column;
}
