// The window-procedure hooks without a window: which messages reach the keyboard device, what the
// event hook does per kind, and the raw key translation from X key codes.
#include <gtest/gtest.h>

#include <vector>

#include "core/shutdown.h"
#include "core/statements.h"
#include "display/window_hooks.h"
#include "keyboard_fixture.h"
#include "platform/x11_window.h"

namespace {

struct device_change {
    int32_t button, down;
    bool operator==(const device_change&) const = default;
};
std::vector<device_change> device;

void device_record(int32_t button, int32_t down) { device.push_back({button, down}); }

class window_hooks : public keyboard_test {
protected:
    void SetUp() override {
        keyboard_test::SetUp();
        device.clear();
        window_keyboard_device_handler_set(device_record);
        close_request_bits.store(0);
        close_handled_by_program.store(0);
        stop_request.store(0);
        pause_flag.store(0);
    }
    void TearDown() override {
        window_keyboard_device_handler_set(nullptr);
        close_request_bits.store(0);
        close_handled_by_program.store(0);
        stop_request.store(0);
        pause_flag.store(0);
        keyboard_test::TearDown();
    }
};

TEST_F(window_hooks, only_key_messages_before_handling_reach_the_keyboard_device) {
    const struct {
        uint32_t message;
        int32_t status;
        int64_t lparam;
        std::vector<device_change> expected;
    } cases[] = {
        {platform::wm_keydown, 1, 0x001E0001, {{30, 1}}},
        {platform::wm_keyup, 1, 0xC01E0001, {{30, 0}}},
        {platform::wm_keydown, 1, 0x014D0001, {{0x14D, 1}}},  // extended: + 256
        {platform::wm_keydown, 2, 0x001E0001, {}},            // after handling
        {platform::wm_syskeydown, 1, 0x00380001, {}},
        {platform::wm_syskeyup, 1, 0xC0380001, {}},
        {wm_close, 1, 0, {}},
    };
    for (auto& c : cases) {
        device.clear();
        int32_t status = c.status;
        EXPECT_EQ(window_proc_key_hook(nullptr, c.message, 0, c.lparam, status), 0);
        EXPECT_EQ(status, c.status) << "the hook never takes a message over";
        EXPECT_EQ(device, c.expected) << std::hex << c.message << " " << c.lparam;
    }
}

TEST_F(window_hooks, event_kinds) {
    EXPECT_EQ(window_proc_event_hook(window_event_close, 0, 0), 0);
    EXPECT_EQ(close_request_bits.load(), 1);
    EXPECT_EQ(stop_request.load(), 0);

    const struct {
        int32_t kind, a, b, result;
    } refused[] = {{window_event_key, 65, 1, -1}, {window_event_key, 100317, 1, -1}, {0, 0, 0, -1}, {4, 1, 1, -1}};
    for (auto& c : refused) EXPECT_EQ(window_proc_event_hook(c.kind, c.a, c.b), c.result) << c.kind << " " << c.a;
    EXPECT_EQ(window_proc_event_hook(window_event_motion, 3, -2), 0);

    // Break stops the program, or tells a program that handles closing itself.
    EXPECT_EQ(window_proc_event_hook(window_event_key, 100318, 1), 0);
    EXPECT_EQ(stop_request.load(), 1);
    EXPECT_EQ(window_proc_event_hook(window_event_key, 100318, -1), 0);
    stop_request.store(0);
    close_request_bits.store(0);
    close_handled_by_program.store(1);
    window_proc_event_hook(window_event_key, 100318, 1);
    window_proc_event_hook(window_event_key, 100318, 0);
    EXPECT_EQ(stop_request.load(), 0);
    EXPECT_EQ(close_request_bits.load(), 2);

    // Pause pauses.
    window_proc_event_hook(window_event_key, 100019, 1);
    EXPECT_EQ(pause_flag.load() & 1, 1);
}

TEST_F(window_hooks, raw_keys_reach_the_hooks_and_the_keyboard) {
    const struct {
        uint32_t keycode, state;
        bool press;
        std::vector<device_change> expected;
    } cases[] = {
        {38, 0, true, {{30, 1}}},         // a
        {38, 0x8, false, {{30, 0}}},      // released with Alt held: still a key-up
        {38, 0x8, true, {}},              // Alt+a is a system key
        {64, 0, true, {}},                // Alt itself
        {76, 0, true, {}},                // F10
        {114, 0, true, {{0x14D, 1}}},     // Right
        {127, 0, true, {{0x45, 1}}},      // Pause
        {127, 0x4, true, {{0x146, 1}}},   // Ctrl+Pause is Break
        {255, 0, true, {}},               // no PC key
    };
    for (auto& c : cases) {
        device.clear();
        window_raw_key(c.press, c.keycode, c.state);
        EXPECT_EQ(device, c.expected) << c.keycode << " " << c.state;
    }
    EXPECT_EQ(pause_flag.load() & 1, 1);  // the Pause press went to the keyboard
    EXPECT_EQ(stop_request.load(), 1);     // and Break stopped
}

TEST(x11_scan_word, the_keys_of_a_pc_keyboard) {
    // X key code = Linux input code + 8.
    for (uint32_t code = 1; code <= 88; ++code)
        EXPECT_EQ(platform::x11_scan_word(code + 8, false), code == 69 ? 0x145u : code) << code;
    const struct {
        uint32_t linux_code, scan;
    } extended[] = {{96, 0x11C},  {97, 0x11D},  {98, 0x135},  {99, 0x137},  {100, 0x138}, {102, 0x147},
                    {103, 0x148}, {104, 0x149}, {105, 0x14B}, {106, 0x14D}, {107, 0x14F}, {108, 0x150},
                    {109, 0x151}, {110, 0x152}, {111, 0x153}, {125, 0x15B}, {126, 0x15C}, {127, 0x15D}};
    for (auto& e : extended) EXPECT_EQ(platform::x11_scan_word(e.linux_code + 8, false), e.scan) << e.linux_code;
    EXPECT_EQ(platform::x11_scan_word(119 + 8, false), 0x45u);
    EXPECT_EQ(platform::x11_scan_word(119 + 8, true), 0x146u);
    for (uint32_t none : {0u, 7u, 8u, 89u + 8, 101u + 8, 112u + 8, 128u + 8, 255u})
        EXPECT_EQ(platform::x11_scan_word(none, false), 0u) << none;
}

TEST(x11_scan_word, messages_carry_the_scan_code_as_a_pc_window_system_does) {
    platform::key_message down = platform::x11_key_message(true, 114, 0);
    EXPECT_EQ(down.message, platform::wm_keydown);
    EXPECT_EQ((down.lparam >> 16) & 0x1FF, 0x14D);
    EXPECT_EQ(down.lparam & 0xFFFF, 1);
    platform::key_message up = platform::x11_key_message(false, 114, 0);
    EXPECT_EQ(up.message, platform::wm_keyup);
    EXPECT_EQ((up.lparam >> 16) & 0x1FF, 0x14D);
    EXPECT_EQ(up.lparam >> 30, 3);  // was down, going up
    EXPECT_EQ(platform::x11_key_message(true, 127, 0).virtual_key, platform::vk_pause);
    EXPECT_EQ(platform::x11_key_message(true, 127, 0x4).virtual_key, platform::vk_cancel);
    EXPECT_EQ(platform::x11_key_message(true, 38, 0).virtual_key, 0u);
}

}  // namespace
