// The screen-state stream: golden bytes of the text screen, round trips of every kind of screen
// through a fresh runtime, and mismatched, huge and truncated streams refused cleanly.
#include <gtest/gtest.h>

#include <cstring>
#include <vector>

#include "core/strings.h"
#include "runtime/screen_state.h"
#include "screen/fonts.h"
#include "screen/image_handles.h"
#include "screen/palette.h"
#include "screen/screen_fixture.h"
#include "screen/text_output.h"

namespace {

struct memory_source {
    const std::vector<uint8_t>& bytes;
    size_t position = 0;
    static bool read(void* context, void* buffer, int64_t count) {
        auto* s = static_cast<memory_source*>(context);
        size_t n = std::min(size_t(count), s->bytes.size() - s->position);
        std::memcpy(buffer, s->bytes.data() + s->position, n);
        s->position += n;
        return n == size_t(count);
    }
};

uint32_t word_at(const std::vector<uint8_t>& b, size_t offset) {
    uint32_t v;
    std::memcpy(&v, b.data() + offset, 4);
    return v;
}

struct screen_state_test : screen_test {
    void SetUp() override {
        screen_test::SetUp();
        string_store_reset();
        string_segment_init();
    }
    void TearDown() override {
        string_store_reset();
        screen_test::TearDown();
    }
    // A fresh screen (mode 0, 80 x 25) as the target of a chain starts with, then the stream read.
    static size_t read_into_fresh(const std::vector<uint8_t>& bytes) {
        screen_pages_reset();
        image_pool_reserve();
        dos_memory_clear();
        screen_mode_set(0, 0, 0, 0, 0, 1);
        memory_source source{bytes};
        screen_state_read_from({&source, memory_source::read});
        return source.position;
    }
    static void print(const char* text) { print_string(string_from_cstring(text), 1); }
};

TEST_F(screen_state_test, TextScreenGoldenLayout) {
    std::vector<uint8_t> b = screen_state_bytes();
    const uint32_t head[] = {256, 0, 258, 80, 25, 259, 16};
    for (size_t i = 0; i < std::size(head); ++i) EXPECT_EQ(word_at(b, i * 4), head[i]) << i;
    size_t at = sizeof head;
    const size_t group = 8 + 4000 + screen_state_record_bytes;
    for (uint32_t page = 1; page < 8; ++page) {  // page 0 is the destination: it comes last
        EXPECT_EQ(word_at(b, at), 260u);
        EXPECT_EQ(word_at(b, at + 4), page);
        at += group;
    }
    EXPECT_EQ(word_at(b, at + 4), 0u);
    const uint8_t* record = b.data() + at + 8 + 4000;
    EXPECT_EQ(record[17], 1) << "is_text";
    EXPECT_EQ(record[20], 80);
    EXPECT_EQ(record[22], 25);
    EXPECT_EQ(record[24], 2);
    uint8_t zeros[8] = {};
    EXPECT_EQ(std::memcmp(record + 64, zeros, 4), 0) << "pixels written as zero";
    EXPECT_EQ(std::memcmp(record + 72, zeros, 4), 0) << "palette written as zero";
    EXPECT_EQ(std::memcmp(record + 0, zeros, 8), 0) << "lock written as zero";
    at += group;
    EXPECT_EQ(word_at(b, at), 261u);
    EXPECT_EQ(word_at(b, at + 4), 0u);
    EXPECT_EQ(word_at(b, at + 8), 0u);
    EXPECT_EQ(word_at(b, at + 12), 262u);
    EXPECT_EQ(word_at(b, at + 16), palette_entry_get(0, 0, 1));
    EXPECT_EQ(word_at(b, at + 16 + 7 * 4), palette_entry_get(7, 0, 1));
    EXPECT_EQ(word_at(b, at + 16 + 1024), 511u);
    EXPECT_EQ(b.size(), at + 16 + 1024 + 4);
}

TEST_F(screen_state_test, RoundTrips) {
    struct screen {
        const char* name;
        void (*make)();
    };
    const screen screens[] = {
        {"mode 0", [] { print("hello"); dest_image->fore_color = 14; print("yellow"); }},
        {"mode 13", [] { screen_mode_set(13, 0, 0, 0, 0, 1); print("pixels"); palette_entry_set(5, 0x123456, 0, 1); }},
        {"640x480 16 colours", [] {
             screen_mode_set(image_handle_new(640, 480, 9, 1), 0, 0, 0, 0, 1);
             print("image");
         }},
        {"32-bit", [] {
             screen_mode_set(image_handle_new(320, 200, 32, 1), 0, 0, 0, 0, 1);
             print("deep");
         }},
        {"destination on page 2", [] {
             screen_mode_set(0, 0, 2, 0, 0, 12);
             print("two");
         }},
    };
    for (const screen& s : screens) {
        SetUp();
        s.make();
        ASSERT_EQ(raised(), 0) << s.name;
        std::vector<uint8_t> before = screen_state_bytes();
        int32_t dest_page = -1;
        for (int32_t p = 0; p < screen_page_count(); ++p)
            if (screen_page_table[size_t(p)] == dest_image_index) dest_page = p;
        EXPECT_EQ(read_into_fresh(before), before.size()) << s.name;
        EXPECT_EQ(raised(), 0) << s.name;
        EXPECT_EQ(screen_state_bytes(), before) << s.name << ": the rebuilt screen writes the same stream";
        EXPECT_EQ(screen_page_table[size_t(dest_page)], dest_image_index) << s.name;
        TearDown();
    }
}

TEST_F(screen_state_test, DestinationPageComesLast) {
    screen_mode_set(0, 0, 2, 0, 0, 12);
    std::vector<uint8_t> b = screen_state_bytes();
    std::vector<uint32_t> order;
    for (size_t at = 28; word_at(b, at) == 260; at += 8 + 4000 + screen_state_record_bytes)
        order.push_back(word_at(b, at + 4));
    EXPECT_EQ(order, (std::vector<uint32_t>{0, 1, 3, 4, 5, 6, 7, 2}));
}

TEST_F(screen_state_test, HostileStreams) {
    print("keep");
    std::vector<uint8_t> good = screen_state_bytes();
    auto with_word = [&](size_t offset, uint32_t value) {
        std::vector<uint8_t> b = good;
        std::memcpy(b.data() + offset, &value, 4);
        return b;
    };
    const size_t first_record = 28 + 8 + 4000;
    struct hostile {
        const char* name;
        std::vector<uint8_t> bytes;
    };
    const hostile cases[] = {
        {"stored width differs", with_word(first_record + 20, 200)},
        {"stored mode differs", with_word(first_record + 32, 13)},
        {"cursor row off the page", with_word(first_record + 58, 0x7000)},
        {"page number huge", with_word(32, 0x7FFFFFFF)},
        {"page number negative", with_word(32, 0xFFFFFFFF)},
        {"truncated in a page", std::vector<uint8_t>(good.begin(), good.begin() + 2000)},
        {"truncated in a record", std::vector<uint8_t>(good.begin(), good.begin() + long(first_record) + 30)},
        {"huge image", {1, 1, 0, 0, 32, 0, 0, 0, 0xFF, 0xFF, 0, 0, 0xFF, 0xFF, 0xFF, 0x7F}},
        {"image of no mode", {1, 1, 0, 0, 3, 0, 0, 0, 10, 0, 0, 0, 10, 0, 0, 0}},
    };
    for (const hostile& h : cases) {
        read_into_fresh(h.bytes);
        EXPECT_NE(raised(), 0) << h.name;
        for (int32_t p = 0; p < screen_page_count(); ++p)
            if (int32_t slot = screen_page_table[size_t(p)]) {
                const image_record& r = image_pool[slot];
                EXPECT_EQ(r.width, 80) << h.name;
                EXPECT_EQ(r.height, 25) << h.name;
                EXPECT_EQ(r.bytes_per_pixel, 2) << h.name;
            }
    }
}

TEST_F(screen_state_test, UnknownFirstTokenSkipsToALaterGroup) {
    // 999 is no group: reading stops at once and nothing changes.
    read_into_fresh({0xE7, 0x03, 0, 0, 0x05, 0x01, 0, 0, 1, 0, 0, 0, 1, 0, 0, 0});
    EXPECT_EQ(raised(), 0);
    EXPECT_EQ(dest_image_index, screen_page_table[0]);
    // A stream that starts at group 261 selects its pages.
    read_into_fresh({0x05, 0x01, 0, 0, 3, 0, 0, 0, 1, 0, 0, 0, 0xFF, 0x01, 0, 0});
    EXPECT_EQ(raised(), 0);
    EXPECT_EQ(dest_image_index, screen_page_table[3]);
    EXPECT_EQ(display_image_index.load(), screen_page_table[1]);
}

}  // namespace
