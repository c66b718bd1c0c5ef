#include "display/bios_keyboard.h"

#include <algorithm>
#include <chrono>

#include "core/errors.h"
#include "core/memory.h"
#include "core/program_wake.h"
#include "core/strings.h"
#include "core/timing.h"
#include "display/key_table.h"
#include "display/keyboard_internal.h"

namespace {

// Linear addresses of the BIOS data area in dos_memory.
constexpr uint32_t bios_area = 0x400;
constexpr uint32_t bios_flags_1 = 0x417;
constexpr uint32_t bios_flags_2 = 0x418;
constexpr uint32_t bios_ring_head = 0x41A;
constexpr uint32_t bios_ring_tail = 0x41C;
constexpr uint32_t bios_flags_3 = 0x496;
// Ring offsets from bios_area: 16 two-byte slots.
constexpr uint8_t bios_ring_first = 30;
constexpr uint8_t bios_ring_end = 62;
// Flag byte 3: an enhanced (101-key) keyboard is installed.
constexpr int bios_flag_enhanced_keyboard = 4;

uint8_t bios_ring_next(uint8_t offset) {
    uint8_t next = static_cast<uint8_t>(offset + 2);
    return next >= bios_ring_end ? bios_ring_first : next;
}

// The read's own state (program thread only): when the last read found nothing, how long the last
// idle wait could last, and the sleeps so far.
struct bios_read_state {
    std::chrono::steady_clock::time_point last_empty_read{};
    bool last_read_empty = false;
    int64_t idle_wait_ms = 0;
    uint64_t timer_reads_seen = 0;
    bios_read_sleeps sleeps;
};
bios_read_state reader;

}  // namespace

void bios_flags_write(const held_keys& held) {
    auto down = [&](int32_t code) { return held_keys_has(held, code); };
    auto bit = [](bool on, int n) { return static_cast<uint8_t>(on ? 1 << n : 0); };
    key_modifiers mods = held_keys_modifiers(held);
    dos_byte_write(bios_flags_1, bit(down(key_right_shift), 0) | bit(down(key_left_shift), 1) | bit(mods.ctrl, 2) |
                                     bit(mods.alt, 3) | bit(down(key_scroll_lock_on), 4) | bit(down(key_num_lock), 5) |
                                     bit(down(key_caps_lock), 6) | bit(down(key_insert_mode_on), 7));
    dos_byte_write(bios_flags_2, bit(down(key_left_ctrl), 0) | bit(down(key_left_alt), 1) | bit(down(key_sysreq), 2) |
                                     bit(down(key_pause), 3) | bit(down(key_scroll_lock), 4) | bit(down(key_insert), 7));
    dos_byte_write(bios_flags_3, bit(down(key_right_ctrl), 0) | bit(down(key_right_alt), 1) |
                                     bit(true, bios_flag_enhanced_keyboard));
}

int32_t bios_state_of(key_modifiers mods, bool keypad_digit) {
    if (mods.alt) return 3;
    if (mods.ctrl) return 2;
    if (keypad_digit) return mods.shift ? 7 : 4;
    return mods.shift ? 1 : 0;
}

void bios_key_store_locked(uint8_t character, uint8_t scan) {
    uint8_t tail = dos_byte_read(bios_ring_tail);
    uint8_t next = bios_ring_next(tail);
    if (next == dos_byte_read(bios_ring_head)) return;  // full: the new key is lost
    dos_byte_write(bios_area + tail, character);
    dos_byte_write(bios_area + tail + 1, scan);
    dos_byte_write(bios_ring_tail, next);
    program_wake();
}

void bios_value_store_locked(int32_t value, int32_t make) {
    if (value == 0) return;
    if (value & 0xFF00) bios_key_store_locked(0, static_cast<uint8_t>(value >> 8));
    else bios_key_store_locked(static_cast<uint8_t>(value), static_cast<uint8_t>(make));
}

bool bios_ring_empty() { return dos_byte_read(bios_ring_head) == dos_byte_read(bios_ring_tail); }

bool bios_ring_take(uint8_t& character, uint8_t& scan) {
    uint8_t head = dos_byte_read(bios_ring_head);
    if (head == dos_byte_read(bios_ring_tail)) return false;
    character = dos_byte_read(bios_area + head);
    scan = dos_byte_read(bios_area + head + 1);
    dos_byte_write(bios_ring_head, bios_ring_next(head));
    return true;
}

void bios_ring_clear() {
    dos_byte_write(bios_ring_head, bios_ring_first);
    dos_byte_write(bios_ring_tail, bios_ring_first);
}

void bios_area_clear() {
    for (uint32_t a = bios_flags_1; a < bios_ring_tail + 2; ++a) dos_byte_write(a, 0);
    for (uint32_t a = bios_area + bios_ring_first; a < bios_area + bios_ring_end; ++a) dos_byte_write(a, 0);
    dos_byte_write(bios_flags_3, 0);
    bios_ring_clear();
    reader = bios_read_state{};
}

// --- The program's read -----------------------------------------------------------------------------

namespace {

// A program that polls the buffer in a loop that does nothing else would keep a processor busy. A
// read that follows an empty one within a few microseconds sleeps until a key, an event or
// shutdown wakes it, or until a time limit that doubles from 1 ms to a quarter second while the
// loop goes on; a loop that also reads the clock keeps the 1 ms limit, so it sees every tick. A
// program that does work between its reads never sleeps and never yields: on a busy machine a yield
// gives the core away for a whole time slice, and it hurries no key, which the window thread stores
// on its own and which wakes a sleeping read.
constexpr auto tight_poll_gap = std::chrono::microseconds(50);
constexpr int64_t idle_wait_first_ms = 1;
constexpr int64_t idle_wait_longest_ms = program_wake_guard_ms;

bool read_has_news() { return !bios_ring_empty() || event_pending.load() != 0 || runtime_shutting_down(); }

void sleep_until_news(uint32_t ticket) {
    program_wake_wait(ticket, reader.idle_wait_ms);
    bios_read_sleeps& sleeps = reader.sleeps;
    ++sleeps.count;
    if (program_wake_ticket() != ticket) ++sleeps.woken;
    sleeps.longest_limit_ms = std::max(sleeps.longest_limit_ms, reader.idle_wait_ms);
}

void wait_before_read() {
    auto now = std::chrono::steady_clock::now();
    if (!reader.last_read_empty || now - reader.last_empty_read >= tight_poll_gap) {
        reader.idle_wait_ms = 0;
        return;
    }
    uint64_t clock_reads = timer_reads();
    bool watches_clock = clock_reads != reader.timer_reads_seen;
    reader.timer_reads_seen = clock_reads;
    reader.idle_wait_ms = reader.idle_wait_ms == 0 || watches_clock
                              ? idle_wait_first_ms
                              : std::min(reader.idle_wait_ms * 2, idle_wait_longest_ms);
    uint32_t ticket = program_wake_ticket();
    if (!read_has_news()) sleep_until_news(ticket);
}

string_descriptor* temporary_of(const uint8_t* bytes, uint32_t length) {
    string_descriptor* s = string_new(length, 1);
    for (uint32_t i = 0; i < length; ++i) s->text[i] = bytes[i];
    return s;
}

}  // namespace

string_descriptor* bios_key_buffer_read() {
    if (error_pending()) return string_new(0, 1);
    wait_before_read();
    uint8_t bytes[2];
    uint32_t length = 0;
    {
        std::lock_guard guard(kb.lock);
        if (bios_ring_take(bytes[0], bytes[1])) length = (bytes[0] == 0 && bytes[1] != 0) ? 2 : 1;
    }
    reader.last_read_empty = length == 0;
    if (reader.last_read_empty) reader.last_empty_read = std::chrono::steady_clock::now();
    return temporary_of(bytes, length);
}

bios_read_sleeps bios_key_read_sleeps() { return reader.sleeps; }

void bios_key_wait() {
    program_wait_woken([] { return !bios_ring_empty(); });
}
