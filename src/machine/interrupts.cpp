#include "machine/interrupts.h"

#include <algorithm>
#include <cmath>
#include <cstring>

#include "core/byte_span.h"
#include "core/error_codes.h"
#include "core/errors.h"
#include "core/memory.h"
#include "display/mouse.h"
#include "machine/x86.h"
#include "screen/image_pool.h"

uint16_t machine_code_args[machine_code_args_capacity];

namespace {

constexpr int32_t mouse_driver_interrupt = 0x33;
enum : uint16_t {
    mouse_reset = 0,
    mouse_show = 1,
    mouse_hide = 2,
    mouse_read = 3,
};
constexpr uint16_t mouse_driver_present = 0xFFFF;
constexpr uint16_t mouse_button_count = 2;

// The record's words in order, by register number.
constexpr x86_gpr record_registers[] = {x86_eax, x86_ebx, x86_ecx, x86_edx, x86_ebp, x86_esi, x86_edi};
constexpr int32_t record_words = 8;          // the seven registers and FLAGS
constexpr int32_t record_size = 2 * record_words;
constexpr int32_t record_size_segments = record_size + 4;  // and DS, ES
constexpr x86_segment record_segments[] = {x86_ds, x86_es};

void call_with_records(int32_t number, const byte_span* in, const byte_span* out, bool segments) {
    if (error_pending()) return;
    const int32_t size = segments ? record_size_segments : record_size;
    if (out->length < size || in->length < size) {
        error_raise(error_illegal_function_call);
        return;
    }
    // The in record is read whole before anything is written: the two may overlap.
    uint8_t record[record_size_segments];
    std::memcpy(record, byte_span_data(*in), size);
    x86_register_file& r = x86_registers;
    for (int i = 0; i < 7; ++i) x86_reg16_set(r, record_registers[i], word_load(record + 2 * i));
    if (segments)
        for (int i = 0; i < 2; ++i) r.sreg[record_segments[i]] = word_load(record + record_size + 2 * i);

    interrupt_emulate(number);

    uint8_t* target = byte_span_data(*out);
    for (int i = 0; i < 7; ++i) word_store(target + 2 * i, x86_reg16(r, record_registers[i]));
    if (segments)
        for (int i = 0; i < 2; ++i) word_store(target + record_size + 2 * i, r.sreg[record_segments[i]]);
}

bool mode_doubles_x(int32_t mode) { return mode == 1 || mode == 7 || mode == 13; }

// trunc((v - 0.5) * 8) in 0 .. cells * 8 - 1.
uint16_t text_cell_pixel(float v, int32_t cells) {
    double p = std::trunc((static_cast<double>(v) - 0.5) * 8);
    return static_cast<uint16_t>(std::clamp(p, 0.0, std::max(0.0, cells * 8.0 - 1)));
}

// Truncated toward zero, then cut to 16 bits.
uint16_t low_word_of(float v) { return static_cast<uint16_t>(static_cast<int32_t>(v)); }

void mouse_driver(x86_register_file& r) {
    switch (x86_reg16(r, x86_eax)) {
    case mouse_reset:
        x86_reg16_set(r, x86_eax, mouse_driver_present);
        x86_reg16_set(r, x86_ebx, mouse_button_count);
        return;
    case mouse_show:
        mouse_cursor_show(nullptr, 0);
        return;
    case mouse_hide:
        mouse_cursor_hide();
        return;
    case mouse_read: {
        // One whole copy of the newest record: the main thread may be writing the next one.
        const mouse_event newest = mouse_event_newest();
        const mouse_driver_reading reading{mouse_x_of(newest), mouse_y_of(newest), newest.buttons};
        const image_record* shown = display_image.load();
        mouse_driver_display display{};
        if (shown) display = {shown->is_text != 0, shown->mode, shown->width, shown->height};
        mouse_driver_position at = mouse_driver_position_of(reading, display);
        x86_reg16_set(r, x86_ebx, static_cast<uint16_t>(((reading.buttons & mouse_bit_left) ? 1 : 0) + ((reading.buttons & mouse_bit_right) ? 2 : 0)));
        x86_reg16_set(r, x86_ecx, at.cx);
        x86_reg16_set(r, x86_edx, at.dx);
        return;
    }
    default:
        return;
    }
}

}  // namespace

mouse_driver_position mouse_driver_position_of(const mouse_driver_reading& reading, const mouse_driver_display& display) {
    if (display.is_text) return {text_cell_pixel(reading.x, display.columns), text_cell_pixel(reading.y, display.rows)};
    uint16_t cx = low_word_of(reading.x);
    if (mode_doubles_x(display.mode)) cx = static_cast<uint16_t>(cx * 2);
    return {cx, low_word_of(reading.y)};
}

void interrupt_call(int32_t number, const byte_span* in, const byte_span* out) {
    call_with_records(number, in, out, false);
}

void interrupt_call_segments(int32_t number, const byte_span* in, const byte_span* out) {
    call_with_records(number, in, out, true);
}

void interrupt_emulate(int32_t number) {
    if (number == mouse_driver_interrupt) mouse_driver(x86_registers);
}

void machine_code_call(int32_t n, int32_t offset) {
    if (error_pending()) return;
    if (n > machine_code_args_capacity) {
        error_raise(error_illegal_function_call);
        return;
    }
    x86_register_file& r = x86_registers;
    r = x86_register_file{};
    r.sreg[x86_cs] = current_segment();
    r.ip = static_cast<uint16_t>(offset);
    r.sreg[x86_ss] = 0xFFFF;
    r.sreg[x86_ds] = dos_default_segment;
    const uint32_t stack = static_cast<uint32_t>(r.sreg[x86_ss]) * 16;
    auto push = [&](uint32_t value, int bytes) {
        x86_reg16_set(r, x86_esp, static_cast<uint16_t>(x86_reg16(r, x86_esp) - bytes));
        for (int i = 0; i < bytes; ++i) dos_byte_write(stack + x86_reg16(r, x86_esp) + i, static_cast<uint8_t>(value >> (8 * i)));
    };
    for (int32_t i = 0; i < n; ++i) push(machine_code_args[i], 2);
    push(0xFFFFFFFF, 4);  // the far return address FFFF:FFFF
    x86_run();
}
