#include "machine/ports.h"

#include <cmath>

#include "core/error_codes.h"
#include "core/errors.h"
#include "core/shutdown.h"
#include "core/statements.h"
#include "core/timing.h"
#include "display/keyboard.h"
#include "screen/image_pool.h"

std::atomic<int32_t> retrace_latch{0};
std::atomic<int32_t> retrace_active{0};

namespace {

enum : uint16_t {
    port_keyboard_data = 0x60,
    port_dac_read_index = 0x3C7,
    port_dac_write_index = 0x3C8,
    port_dac_data = 0x3C9,
    port_input_status = 0x3DA,
};
constexpr int32_t status_retrace = 8;
constexpr int64_t wait_poll_ms = 1;

// Palette entry, red, green and blue: the DAC steps through them in this order.
struct dac_cursor {
    uint8_t index = 0;
    uint8_t component = 0;  // 0 red, 1 green, 2 blue
};

struct ports_state {
    dac_cursor write, read;
    int32_t unsupported = 0;
};

ports_state ports;

void dac_advance(dac_cursor& c) {
    if (++c.component == 3) {
        c.component = 0;
        ++c.index;
    }
}

int component_shift(const dac_cursor& c) { return 16 - 8 * c.component; }

uint32_t* destination_palette() { return dest_image ? dest_image->palette : nullptr; }

void dac_data_write(int32_t value) {
    if (uint32_t* palette = destination_palette()) {
        uint32_t& entry = palette[ports.write.index];
        int shift = component_shift(ports.write);
        entry = (entry & ~(0xFFu << shift)) | static_cast<uint32_t>(dac_level8(value & 63)) << shift;
    }
    dac_advance(ports.write);
}

int32_t dac_data_read() {
    uint32_t* palette = destination_palette();
    if (!palette) return 0;
    int32_t level = dac_level6((palette[ports.read.index] >> component_shift(ports.read)) & 0xFF);
    dac_advance(ports.read);
    return level;
}

int32_t retrace_status() {
    if (retrace_latch.exchange(0) != 0 || retrace_active.load() != 0) return status_retrace;
    return 0;
}

bool word_in_range(int32_t v) { return v >= -65536 && v <= 65535; }
bool mask_in_range(int32_t v) { return v >= -32768 && v <= 65535; }

}  // namespace

// The levels as the DAC rounds them: extended precision, nearest with ties to even.
uint8_t dac_level8(uint32_t level6) {
    return static_cast<uint8_t>(std::nearbyint(level6 * 4.0634918212890625L - 0.49999991059303284L));
}

uint8_t dac_level6(uint32_t level8) {
    return static_cast<uint8_t>(std::nearbyint(level8 / 3.984376L - 0.49999991059303284L));
}

void port_out(int32_t port, int32_t value) {
    if (error_pending()) return;
    ports.unsupported = 0;
    switch (port & 0xFFFF) {
    case port_dac_read_index: ports.read = {static_cast<uint8_t>(value), 0}; return;
    case port_dac_write_index: ports.write = {static_cast<uint8_t>(value), 0}; return;
    case port_dac_data: dac_data_write(value); return;
    default: ports.unsupported = 1; return;
    }
}

int32_t port_in(int32_t port) {
    if (error_pending()) return 0;
    if (!word_in_range(port)) {
        error_raise(error_overflow);
        return 0;
    }
    ports.unsupported = 0;
    switch (port & 0xFFFF) {
    case port_dac_data: return dac_data_read();
    case port_input_status: return retrace_status();
    case port_keyboard_data: return scancode_queue_take();
    default: ports.unsupported = 1; return 0;
    }
}

void port_wait(int32_t port, int32_t and_mask, int32_t xor_value, int32_t xor_given) {
    if (error_pending()) return;
    if (!word_in_range(port) || !mask_in_range(and_mask) || (xor_given && !mask_in_range(xor_value))) {
        error_raise(error_overflow);
        return;
    }
    for (;;) {
        int32_t v = port_in(port & 0xFFFF);
        if (xor_given) v ^= xor_value & 0xFF;
        v &= and_mask & 0xFF;
        if (v != 0 || ports.unsupported || error_pending() || runtime_shutting_down()) return;
        sleep_ms(wait_poll_ms);
        // Pauses and traps act during the wait as they do between statements.
        if (event_pending.load() && !error_pending() && !runtime_shutting_down()) statement_hook(0);
    }
}

int32_t port_unsupported_get() { return ports.unsupported; }

void ports_reset() { ports = ports_state{}; }
