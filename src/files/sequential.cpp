#include "files/sequential.h"

#include <algorithm>
#include <bit>
#include <cstring>
#include <emmintrin.h>
#include <string>
#include <string_view>

#include "core/error_codes.h"
#include "core/errors.h"
#include "core/shutdown.h"
#include "core/strings.h"
#include "display/keyboard.h"
#include "files/file_handles.h"
#include "files/file_internal.h"
#include "screen/print_positioning.h"

namespace {

constexpr uint8_t ctrl_z = 26;
constexpr uint8_t cr = 13;
constexpr uint8_t lf = 10;
constexpr int64_t print_zone = 14;
constexpr int64_t line_chunk_first = 512;
constexpr int64_t line_chunk_max = 65536;

char blanks[32];

// INPUT$ of one character from an input file answers the permanent string of its byte: nothing
// to make, register or free, and an assignment copies it like any string it does not own.
struct one_byte_strings {
    uint8_t bytes[256];
    string_descriptor strings[256];
    string_descriptor* of[256];  // by byte: one load where the byte is taken
    one_byte_strings() {
        for (int b = 0; b < 256; ++b) {
            bytes[b] = static_cast<uint8_t>(b);
            string_descriptor& s = strings[b];
            s = string_descriptor{};
            s.text = &bytes[b];
            s.length = 1;
            s.read_only = 1;
            s.permanent = 1;
            of[b] = &s;
        }
    }
} one_byte;

// The slot bound to n, or -1 with 52 raised.
int32_t bound_slot(int32_t n) {
    int32_t slot = n > 0 ? file_number_slot(n) : -1;
    if (slot < 0) error_raise(error_bad_file_name_or_number);
    return slot;
}

// Byte 26 ends text read from a file or from a port opened for text; on a binary port it is data.
bool ctrl_z_ends(const file_handle_record& r) { return r.com.com_port == 0 || r.com.com_asc; }

void step_back(int32_t slot, int32_t byte) { file_handle_unread_byte(slot, static_cast<uint8_t>(byte)); }

// The target takes a copy of the bytes. Their descriptor is no store's: nothing to register or free.
void assign_bytes(string_descriptor* target, std::string_view bytes) {
    string_descriptor source{};
    source.text = reinterpret_cast<uint8_t*>(const_cast<char*>(bytes.data()));
    source.length = static_cast<int32_t>(bytes.size());
    source.read_only = 1;
    string_assign_always(target, &source);
}

// A line that outgrows the longest string ends the input with 14, before the store is exhausted.
bool line_fits(size_t length) {
    if (static_cast<int64_t>(length) < string_length_max) return true;
    error_raise(error_out_of_string_space);
    return false;
}

bool ends_plain_run(uint8_t b) { return b == cr || b == lf || b == ctrl_z; }

// The length of the run of bytes before the first CR, LF or Ctrl+Z, sixteen bytes at a time.
int64_t line_plain_run(const uint8_t* data, int64_t length) {
    const __m128i crs = _mm_set1_epi8(cr), lfs = _mm_set1_epi8(lf), ctrl_zs = _mm_set1_epi8(ctrl_z);
    int64_t n = 0;
    for (; n + 16 <= length; n += 16) {
        __m128i v = _mm_loadu_si128(reinterpret_cast<const __m128i*>(data + n));
        __m128i hits = _mm_or_si128(_mm_or_si128(_mm_cmpeq_epi8(v, crs), _mm_cmpeq_epi8(v, lfs)),
                                    _mm_cmpeq_epi8(v, ctrl_zs));
        if (auto mask = static_cast<uint32_t>(_mm_movemask_epi8(hits))) return n + std::countr_zero(mask);
    }
    while (n < length && !ends_plain_run(data[n])) ++n;
    return n;
}

// Appends the bytes of the read-ahead block up to the next CR, LF or Ctrl+Z and takes them; false
// with 14 raised when the line outgrows a string.
bool line_plain_bytes_append(int32_t slot, std::string& line) {
    for (;;) {
        file_bytes_view view = file_handle_ahead(slot);
        int64_t n = line_plain_run(view.data, view.length);
        if (n == 0) return true;
        if (!line_fits(line.size() + static_cast<size_t>(n))) return false;
        line.append(reinterpret_cast<const char*>(view.data), static_cast<size_t>(n));
        file_handle_ahead_take(slot, n);
        if (n < view.length) return true;
    }
}

// The byte reader's answer for a 26, the end or a failure.
[[gnu::noinline]] int32_t byte_unusual(int32_t slot, int32_t byte) {
    if (byte == ctrl_z && ctrl_z_ends(file_handle_record_of(slot))) {
        // The marker stays unread: every later read meets it again.
        step_back(slot, byte);
        file_handle_record_of(slot).eof_flag = 1;
        return file_byte_end;
    }
    if (byte >= 0) return byte;
    if (byte == file_at_end) return file_byte_end;
    error_raise(file_error_of_result(byte));
    return file_byte_error;
}

// Where a line that ends in the read-ahead block stops: the bytes its end takes and the end-of-file
// flag the look-ahead behind a CR or LF leaves. Undecided when that look-ahead needs a byte beyond
// the block. A block holds file bytes, so a 26 ends the text.
struct line_end_step {
    bool decided;
    int64_t taken;
    uint8_t eof_flag;
};

// at[0] is the CR, LF or 26 that ended the line, followed by length - 1 more bytes of the block.
line_end_step line_end_in_block(const uint8_t* at, int64_t length) {
    if (at[0] == ctrl_z) return {true, 0, 1};  // the marker stays unread
    int64_t taken = length > 1 && at[1] == (at[0] == cr ? lf : cr) ? 2 : 1;
    if (length <= taken) return {false, 0, 0};
    return {true, taken, at[taken] == ctrl_z ? uint8_t{1} : uint8_t{0}};
}

// A line that lies in the read-ahead block with its end and the look-ahead behind it: one scan and
// one copy into the target. False when it needs the byte reader: the line runs past the block, or
// nothing is left to read.
bool line_from_block(int32_t slot, string_descriptor* target) {
    file_bytes_view view = file_handle_ahead(slot);
    int64_t n = line_plain_run(view.data, view.length);
    if (n == view.length) return false;
    line_end_step end = line_end_in_block(view.data + n, view.length - n);
    if (!end.decided || (n == 0 && end.taken == 0)) return false;
    assign_bytes(target, {reinterpret_cast<const char*>(view.data), static_cast<size_t>(n)});
    file_handle_ahead_take(slot, n + end.taken);
    if (end.eof_flag) file_handle_record_of(slot).eof_flag = 1;
    return true;
}

// A line that runs past the block, or the end of the text: plain bytes straight from the block,
// the byte reader for the rest.
[[gnu::noinline]] void line_through_byte_reader(int32_t slot, string_descriptor* target) {
    static std::string line;  // kept: its room serves every line
    line.clear();
    for (bool first = true;; first = false) {
        size_t before = line.size();
        if (!line_plain_bytes_append(slot, line)) return;
        int32_t c = file_read_byte(slot);
        if (c == file_byte_error) return;
        if (c == file_byte_end) {
            if (!first || line.size() > before) break;
            string_assign_always(target, string_new(0, 1));
            return error_raise(error_input_past_end);
        }
        if (c == cr || c == lf) {
            file_skip_line_end(slot, c);
            break;
        }
        if (!line_fits(line.size())) return;
        line += static_cast<char>(c);
    }
    assign_bytes(target, line);
}

void chars_from_keyboard(int64_t count, std::string& out) {
    while (static_cast<int64_t>(out.size()) < count && !runtime_shutting_down()) {
        // The read itself waits briefly when the buffer was just found empty.
        string_descriptor* key = bios_key_buffer_read();
        if (key->length > 0) out += static_cast<char>(key->text[0]);
        string_free(key);
    }
}

void chars_from_input_file(int32_t slot, int64_t count, std::string& out) {
    while (static_cast<int64_t>(out.size()) < count) {
        int32_t byte = file_read_byte(slot);
        if (byte == file_byte_error) return;
        if (byte == file_byte_end) return error_raise(error_input_past_end);
        out += static_cast<char>(byte);
    }
}

// Binary INPUT$: as many bytes as the file still has, at most count; no error for a short rest.
void chars_from_binary_file(int32_t slot, int64_t count, std::string& out) {
    if (count == 0) return;  // nothing read: the end-of-file flag stays as the last read left it
    file_handle_record& r = file_handle_record_of(slot);
    int64_t size = file_handle_size(slot);
    int64_t want = size >= 0 ? std::min(count, std::max<int64_t>(size - r.position, 0)) : std::min(count, line_chunk_max);
    if (!line_fits(static_cast<size_t>(want))) return;
    out.resize(static_cast<size_t>(want));
    int32_t code = file_handle_read(slot, -1, out.data(), want);
    out.resize(static_cast<size_t>(file_handle_last_read_count()));
    if (code != file_ok && code != file_at_end) {
        out.clear();
        return error_raise(file_error_of_result(code));
    }
    if (static_cast<int64_t>(out.size()) < count) r.eof_flag = 1;
}

}  // namespace

int64_t print_column_after(int64_t column, const uint8_t* text, int64_t length) {
    for (int64_t i = 0; i < length; ++i) {
        if (text[i] == cr) column = 1;
        else if (text[i] != lf) ++column;
    }
    return column;
}

int64_t print_padding(int64_t column, bool trailing_blank, bool comma) {
    int64_t pad = 0;
    if (trailing_blank) ++pad;
    if (comma) {
        ++pad;
        int64_t r = (column + pad - 1) % print_zone;
        if (r != 0) pad += print_zone - r;
    }
    return pad;
}

void file_print_blanks_init() { std::memset(blanks, ' ', sizeof blanks); }

int32_t file_input_slot(int32_t file_number) {
    int32_t slot = bound_slot(file_number);
    if (slot < 0) return -1;
    const file_handle_record& r = file_handle_record_of(slot);
    if (r.mode != file_mode_input) return error_raise(error_bad_file_mode), -1;
    if (!r.can_read) return error_raise(error_path_file_access), -1;
    return slot;
}

void sequential_items_connect() {
    file_item_source_set({file_input_slot, file_read_byte, file_skip_item_separator, file_skip_line_end});
    print_position_file_seam_set(file_print_column);
}

int32_t file_print_column(int32_t file_number) {
    int32_t slot = file_number > 0 ? file_number_slot(file_number) : -1;
    if (slot < 0) return 0;
    int64_t column = file_handle_record_of(slot).print_column;
    return static_cast<int32_t>(std::clamp<int64_t>(column, 1, INT32_MAX));
}

int32_t file_read_byte(int32_t slot) {
    int32_t byte = file_handle_read_byte(slot);
    return byte >= 0 && byte != ctrl_z ? byte : byte_unusual(slot, byte);
}

void file_skip_line_end(int32_t slot, int32_t line_end) {
    int32_t c = file_read_byte(slot);
    if (c < 0) return;
    int32_t partner = line_end == cr ? lf : cr;
    if (c != partner) return step_back(slot, c);
    // Look one byte ahead, so the end of the file shows at once after the last line.
    int32_t next = file_read_byte(slot);
    if (next >= 0) step_back(slot, next);
}

void file_skip_item_separator(int32_t slot, int32_t ended_by) {
    if (slot < 0) return;
    int32_t b = ended_by;
    for (;;) {
        if (b == file_byte_end || b == file_byte_error) return;
        if (b == ',') return;
        if (b == cr || b == lf) return file_skip_line_end(slot, b);
        if (b == ' ') {
            int32_t c = file_read_byte(slot);
            if (c < 0) return;
            if (c != ' ' && c != ',' && c != cr && c != lf) return step_back(slot, c);
            b = c;
            continue;
        }
        b = file_read_byte(slot);  // the rest of a malformed item is dropped
    }
}

void file_print_text(int32_t file_number, string_descriptor* text, int32_t trailing_blank, int32_t comma,
                     int32_t newline) {
    if (error_pending() || file_number < 0) return;
    int32_t slot = bound_slot(file_number);
    if (slot < 0) return;
    file_handle_record& r = file_handle_record_of(slot);
    if (r.mode != file_mode_output) return error_raise(error_bad_file_mode);
    if (!r.can_write) return error_raise(error_path_file_access);

    int64_t before = r.position;
    int32_t code = file_handle_write(slot, -1, text->text, text->length);
    // The column follows the bytes that really went out.
    r.print_column = print_column_after(r.print_column, text->text, r.position - before);
    if (code != file_ok) return error_raise(file_error_of_result(code));

    int64_t pad = print_padding(r.print_column, trailing_blank, comma);
    if (pad > 0) {
        before = r.position;
        code = file_handle_write(slot, -1, blanks, pad);
        r.print_column += r.position - before;
        if (code != file_ok) return error_raise(file_error_of_result(code));
    }
    if (newline) {
        constexpr uint8_t line_end[] = {cr, lf};
        code = file_handle_write(slot, -1, line_end, 2);
        if (code != file_ok) return error_raise(file_error_of_result(code));
        r.print_column = 1;
    }
}

namespace {

// INPUT$ of one character from an input file, from what the byte reader answered: the byte's
// permanent string, or an empty temporary at the end (62 raised) or after a failure.
[[gnu::noinline]] string_descriptor* no_char_answer(int32_t byte) {
    if (byte == file_byte_end) error_raise(error_input_past_end);
    return string_new(0, 1);
}
string_descriptor* one_char_answer(int32_t byte) { return byte >= 0 ? one_byte.of[byte] : no_char_answer(byte); }

[[gnu::noinline]] string_descriptor* input_chars_general(int64_t count, int32_t file_number, int32_t from_file) {
    if (error_pending()) return string_new(0, 1);
    std::string out;
    if (!from_file) {
        if (count < 0) error_raise(error_bad_file_name_or_number);
        else chars_from_keyboard(count, out);
        return string_temp_from_text(out);
    }
    int32_t slot = bound_slot(file_number);
    if (slot < 0) return string_new(0, 1);
    const file_handle_record& r = file_handle_record_of(slot);
    if (r.mode == file_mode_random || r.mode == file_mode_output) error_raise(error_input_past_end);
    else if (!r.can_read) error_raise(error_path_file_access);
    else if (count < 0) error_raise(error_bad_file_name_or_number);
    else if (r.mode == file_mode_input && count == 1) return one_char_answer(file_read_byte(slot));
    else if (r.mode == file_mode_input) chars_from_input_file(slot, count, out);
    else chars_from_binary_file(slot, count, out);
    // Only bytes really read: a cut-short input answers fewer.
    return string_temp_from_text(out);
}

}  // namespace

string_descriptor* input_chars(int64_t count, int32_t file_number, int32_t from_file) {
    if (count != 1 || !from_file || error_pending()) return input_chars_general(count, file_number, from_file);
    // The number asked last, its block holding the byte (the proof of a readable input file): no
    // lookup and no call on the way.
    file_slot* s = file_number_in_block(file_number);
    if (!s || file_block_byte(*s) == ctrl_z) return input_chars_general(1, file_number, 1);
    return one_byte.of[file_block_byte_take(*s)];
}

void file_line_input_text(int32_t slot, string_descriptor* target) {
    if (!line_from_block(slot, target)) line_through_byte_reader(slot, target);
}

void file_line_input_binary(int32_t file_number, string_descriptor* target) {
    int32_t slot = file_number_slot(file_number);
    file_handle_record& r = file_handle_record_of(slot);
    int64_t size = file_handle_size(slot);
    if (size < 0) return error_raise(file_error_of_result(static_cast<int32_t>(size)));
    if (r.position >= size) return error_raise(error_input_past_end);
    // Chunks growing to 64 KB, each read once and searched once.
    std::string line;
    int64_t chunk = line_chunk_first;
    for (;;) {
        size_t searched = line.size();
        if (!line_fits(searched + static_cast<size_t>(chunk))) return;
        line.resize(searched + static_cast<size_t>(chunk));
        int32_t code = file_handle_read(slot, -1, line.data() + searched, chunk);
        int64_t got = file_handle_last_read_count();
        line.resize(searched + static_cast<size_t>(got));
        if (code != file_ok && code != file_at_end) return error_raise(file_error_of_result(code));
        size_t at = line.find(static_cast<char>(lf), searched);
        if (at != std::string::npos) {
            // Just after the LF: what follows, however short, is the next line.
            file_handle_seek(slot, r.position - static_cast<int64_t>(line.size() - at - 1));
            line.resize(at);
            if (!line.empty() && static_cast<uint8_t>(line.back()) == cr) line.pop_back();
            r.eof_flag = r.position >= size ? 1 : 0;
            break;
        }
        if (code == file_at_end || got == 0) {
            r.eof_flag = 1;  // a last line without a line end, whole
            break;
        }
        chunk = std::min(chunk * 2, line_chunk_max);
    }
    assign_bytes(target, line);
}

void file_line_input(int32_t file_number, string_descriptor* target) {
    if (error_pending()) return;
    int32_t slot = bound_slot(file_number);
    if (slot < 0) return;
    const file_handle_record& r = file_handle_record_of(slot);
    if (!r.can_read) return error_raise(error_path_file_access);
    if (r.mode == file_mode_binary) return file_line_input_binary(file_number, target);
    if (r.mode == file_mode_input) return file_line_input_text(slot, target);
    error_raise(error_bad_file_mode);
}
