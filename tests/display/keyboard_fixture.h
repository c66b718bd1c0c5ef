// Test helpers for the keyboard: a clean keyboard, string store and emulated memory per test, and
// readers that drain the key-hit ring, the BIOS keyboard buffer and the scan-code queue.
#pragma once

#include <gtest/gtest.h>

#include <vector>

#include "core/errors.h"
#include "core/memory.h"
#include "core/runtime_fixture.h"
#include "core/strings.h"
#include "display/display_control.h"
#include "display/key_events.h"
#include "display/keyboard.h"

class keyboard_test : public ::testing::Test {
protected:
    void SetUp() override {
        dos_memory_clear();
        string_store_reset();
        string_segment_init();
        keyboard_reset();
        lock_key_source_set(no_keys);
    }
    void TearDown() override {
        keyboard_reset();
        display_control_reset();
        string_store_reset();
    }

    static platform_key_states no_keys() { return {}; }

    // Every code waiting in the key-hit ring, oldest first.
    static std::vector<int32_t> ring() {
        std::vector<int32_t> codes;
        while (int32_t c = key_hit_pop()) codes.push_back(c);
        return codes;
    }
    // Every key waiting in the BIOS buffer as scan byte * 256 + character byte, taken from memory.
    static std::vector<int32_t> bios() {
        std::vector<int32_t> words;
        uint8_t head = dos_memory[0x41A];
        while (head != dos_memory[0x41C]) {
            words.push_back(dos_memory[0x401 + head] * 256 + dos_memory[0x400 + head]);
            head = static_cast<uint8_t>(head + 2 >= 62 ? 30 : head + 2);
        }
        dos_memory[0x41A] = head;
        return words;
    }
    static std::vector<int32_t> scans() {
        std::vector<int32_t> bytes;
        while (scancode_queue_count() > 0) bytes.push_back(scancode_queue_take());
        return bytes;
    }
    static void drain() {
        ring();
        bios();
        scans();
    }

    recorded_boxes boxes;
};
