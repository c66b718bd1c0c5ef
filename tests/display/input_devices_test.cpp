// The input-device table: snapshots appended by the window hooks and the mouse, stepped through in
// stamp order across devices, queues that grow to their limit and then drop their oldest, the
// queries with their errors, the controller queries and the controller-button traps of a
// registered controller.
#include <gtest/gtest.h>

#include <string>
#include <thread>
#include <utility>
#include <vector>

#include "core/error_codes.h"
#include "core/errors.h"
#include "core/program_interface.h"
#include "core/runtime_fixture.h"
#include "core/statements.h"
#include "core/strings.h"
#include "core/traps.h"
#include "display/input_devices.h"
#include "display/mouse.h"
#include "display/window_hooks.h"
#include "platform/x11_window.h"

namespace {

class InputDevices : public ::testing::Test {
protected:
    void SetUp() override {
        string_store_reset();
        string_segment_init();
        mouse_reset();
        input_device_table_make();
        input_devices_init();
    }
    void TearDown() override {
        window_keyboard_device_handler_set(nullptr);
        input_device_table_make();
        mouse_reset();
        string_store_reset();
    }
    static void key(bool down, int64_t scan) {
        int32_t status = window_hook_status_before;
        uint32_t message = down ? platform::wm_keydown : platform::wm_keyup;
        window_proc_key_hook(nullptr, message, 0, 1 | (scan & 0xFF) << 16 | (scan >> 8) << 24, status);
    }
    static int32_t raised() {
        int32_t n = error_number;
        error_number = 0;
        return n;
    }
    static std::string text_of(const string_descriptor* s) {
        return std::string(reinterpret_cast<const char*>(s->text), size_t(s->length));
    }
    recorded_boxes boxes;
};

constexpr int32_t scan_a = 30;
constexpr int32_t button_a = scan_a + 1;

TEST_F(InputDevices, KeyAPressedAndReleasedIsTwoKeyboardSnapshots) {
    key(true, scan_a);
    key(true, scan_a);  // auto-repeat adds nothing
    key(false, scan_a);
    key(false, scan_a);  // nor does a release of a key that is up

    EXPECT_EQ(device_input_next(0, 0), keyboard_device);
    EXPECT_EQ(device_button_get(button_a, 1), -1);
    EXPECT_EQ(device_button_change_get(button_a, 1), -1);
    EXPECT_EQ(device_button_get(button_a + 1, 1), 0);
    EXPECT_EQ(device_input_next(0, 0), keyboard_device);
    EXPECT_EQ(device_button_get(button_a, 1), 0);
    EXPECT_EQ(device_button_change_get(button_a, 1), 1);
    EXPECT_EQ(device_input_next(0, 0), 0);
    EXPECT_EQ(raised(), 0);
}

TEST_F(InputDevices, AnExtendedKeyIsItsScanWordPlus256) {
    key(true, 0x14D);  // the right arrow
    EXPECT_EQ(device_input_next(0, 0), keyboard_device);
    EXPECT_EQ(device_button_get(0x14D + 1, 1), -1);
    EXPECT_EQ(device_button_get(0x4D + 1, 1), 0);
}

TEST_F(InputDevices, SnapshotsComeInStampOrderAcrossDevices) {
    key(true, scan_a);
    glut_mouse_callback(mouse_button_left, 0, 5, 5);
    key(false, scan_a);
    glut_mouse_callback(mouse_button_left, 1, 5, 5);
    std::vector<int32_t> order;
    while (int32_t n = device_input_next(0, 0)) order.push_back(n);
    EXPECT_EQ(order, (std::vector<int32_t>{1, 2, 1, 2}));
}

TEST_F(InputDevices, MouseButtonsAndWheelReachDeviceTwo) {
    glut_mouse_callback(mouse_button_right, 0, 1, 1);
    glut_mouse_callback(mouse_button_right, 1, 1, 1);
    glut_mouse_wheel_callback(0, 1, 1, 1);
    glut_mouse_callback(5, 0, 1, 1);  // a back button: nothing
    struct step {
        int32_t right, right_change;
        float wheel;
    };
    const step steps[] = {{-1, -1, 0.0f}, {0, 1, 0.0f}, {0, 0, -1.0f}, {0, 0, 0.0f}};
    for (const step& s : steps) {
        ASSERT_EQ(device_input_next(0, 0), mouse_device);
        EXPECT_EQ(device_button_get(3, 1), s.right);
        EXPECT_EQ(device_button_change_get(3, 1), s.right_change);
        EXPECT_EQ(device_wheel_get(3, 1), s.wheel);
        EXPECT_EQ(device_wheel_get(1, 1), 0.0f);
    }
    EXPECT_EQ(device_input_next(0, 0), 0);
}

TEST_F(InputDevices, NothingQueuedLeavesNoCurrentDevice) {
    EXPECT_EQ(device_input_next(0, 0), 0);
    EXPECT_EQ(device_button_get(1, 1), 0);
    EXPECT_EQ(raised(), error_illegal_function_call);
    // A device asked for by number is current even with nothing new.
    EXPECT_EQ(device_input_next(keyboard_device, 1), 0);
    EXPECT_EQ(device_button_get(1, 1), 0);
    EXPECT_EQ(raised(), 0);
    key(true, scan_a);
    EXPECT_EQ(device_input_next(keyboard_device, 1), -1);
    EXPECT_EQ(device_button_get(button_a, 1), -1);
}

TEST_F(InputDevices, BadNumbersRaiseErrorFiveWithANeutralResult) {
    device_input_next(mouse_device, 1);  // current: the mouse
    ASSERT_EQ(raised(), 0);
    struct query {
        const char* name;
        float (*call)();
        float want;
        int32_t error;
    };
    const query queries[] = {
        {"button 0", [] { return float(device_button_get(0, 1)); }, 0, 5},
        {"button 4", [] { return float(device_button_get(4, 1)); }, 0, 5},
        {"button default", [] { return float(device_button_get(0, 0)); }, 0, 0},
        {"change 4", [] { return float(device_button_change_get(4, 1)); }, 0, 5},
        {"axis 3", [] { return device_axis_get(3, 1); }, 0, 5},
        {"wheel 4", [] { return device_wheel_get(4, 1); }, 0, 5},
        {"wheel 3", [] { return device_wheel_get(3, 1); }, 0, 0},
        {"buttons of 1", [] { return float(device_button_count(1, 1)); }, 512, 0},
        {"axes of current", [] { return float(device_axis_count(0, 0)); }, 2, 0},
        {"wheels of 2", [] { return float(device_wheel_count(2, 1)); }, 3, 0},
        {"buttons of 3", [] { return float(device_button_count(3, 1)); }, 0, 5},
        {"axes of 0", [] { return float(device_axis_count(0, 1)); }, 0, 5},
        {"next 3", [] { return float(device_input_next(3, 1)); }, 0, 5},
        {"count", [] { return float(device_count()); }, 2, 0},
    };
    for (const query& q : queries) {
        device_input_next(mouse_device, 1);
        EXPECT_EQ(q.call(), q.want) << q.name;
        EXPECT_EQ(raised(), q.error) << q.name;
    }
    EXPECT_EQ(text_of(device_description_get(3, 1)), "");
    EXPECT_EQ(raised(), error_illegal_function_call);
    EXPECT_EQ(text_of(device_description_get(1, 1)), "[KEYBOARD][BUTTON]");
    device_input_next(mouse_device, 1);
    EXPECT_EQ(text_of(device_description_get(0, 0)), "[MOUSE][BUTTON][AXIS][WHEEL]");
    EXPECT_EQ(raised(), 0);
}

// Device n, filled with more snapshots than its limit: the queue holds the newest ones, the
// oldest unread of them current, and reports every snapshot it lost.
TEST_F(InputDevices, QueuesGrowToTheirLimitThenDropTheOldest) {
    const struct {
        int32_t device, limit;
    } cases[] = {{keyboard_device, keyboard_queue_limit}, {mouse_device, mouse_queue_limit}};
    for (const auto& c : cases) {
        input_device_table_make();
        input_devices_init();
        const int32_t appended = c.limit + 100;
        for (int32_t i = 0; i < appended; ++i) {
            if (c.device == keyboard_device) device_button_append(c.device, i, true);  // buttons 1..i+1 down
            else device_axes_append(c.device, float(i), 0);
        }
        const int32_t lost = appended - (c.limit - 2);
        EXPECT_EQ(input_device_dropped(c.device), lost);
        for (int32_t i = lost; i < appended; ++i) {
            ASSERT_EQ(device_input_next(0, 0), c.device) << i;
            if (c.device == keyboard_device) {
                ASSERT_EQ(device_button_get(i + 1, 1), -1);
                ASSERT_EQ(device_button_get(i + 2, 1), 0);
            } else {
                ASSERT_EQ(device_axis_get(1, 1), float(i));
            }
        }
        EXPECT_EQ(device_input_next(0, 0), 0);
    }
}

TEST_F(InputDevices, ControllerQueriesAnswerAsForNoController) {
    EXPECT_EQ(controller_axis_get(0, 0, 0), 128);
    EXPECT_EQ(controller_button_get(1, 0, 0), 0);
    EXPECT_EQ(raised(), 0);
    EXPECT_EQ(controller_axis_get(65536, 0, 0), 0);
    EXPECT_EQ(raised(), error_illegal_function_call);
    EXPECT_EQ(controller_axis_get(0, 0, 1), 0);
    EXPECT_EQ(raised(), error_illegal_function_call);
    EXPECT_EQ(controller_button_get(-1, 0, 0), 0);
    EXPECT_EQ(raised(), error_illegal_function_call);
    EXPECT_EQ(controller_button_get(1, 65536, 1), 0);
    EXPECT_EQ(raised(), error_illegal_function_call);
}

TEST_F(InputDevices, AControllerStickGivesOneTo254) {
    int32_t n = input_device_register({input_device_controller, "[CONTROLLER][BUTTON][AXIS]", "Pad", 4, 4, 0, 256});
    ASSERT_EQ(n, 3);
    const struct {
        float value;
        int32_t x, y;  // stick 1: axis 1 holds the value, axis 2 its negation
    } cases[] = {{-1.0f, 1, 254}, {-0.01f, 126, 127}, {0.01f, 127, 126}, {0.0101f, 128, 126},
                 {0.5f, 191, 63},  {1.0f, 254, 1},    {7.0f, 254, 1}};
    for (const auto& c : cases) {
        device_axes_append(n, c.value, -c.value);
        EXPECT_EQ(controller_axis_get(0, 0, 0), c.x) << c.value;
        EXPECT_EQ(controller_axis_get(1, 1, 1), c.y) << c.value;
    }
    EXPECT_EQ(controller_axis_get(2, 0, 0), 128);  // no second controller
    EXPECT_EQ(controller_axis_get(0, 3, 1), 128);  // stick 3: axes 4 and 5 of four
    device_button_append(n, 1, true);
    EXPECT_EQ(controller_button_get(1 + 4, 0, 0), -1);  // button 2 as it is now
    EXPECT_EQ(controller_button_get(1, 0, 0), 0);       // button 1
    EXPECT_EQ(controller_button_get(4, 0, 0), 0);       // button 2 pressed since: no latch set
}

// The controller-button records in use follow the registered controllers: with one, a pending
// button event reaches its handler at the next statement boundary.
TEST_F(InputDevices, AButtonTrapOfARegisteredControllerIsDispatched) {
    static std::vector<std::pair<int32_t, int64_t>> calls;
    calls.clear();
    traps_tables_make();
    auto record = [](int32_t handler, int64_t argument) { calls.emplace_back(handler, argument); };
    program_register({nullptr, [] {}, [] {}, record});
    button_trap_set(4, 1, 1, 12, 34);  // button 2 of controller 1
    button_trap_state(4, 1, trap_action_on, 2);
    button_trap_table[1].pending = 1;
    event_pending = 1;
    statement_hook(10);
    EXPECT_TRUE(calls.empty());  // no controller registered: the record is not in use
    input_device_register({input_device_controller, "[CONTROLLER][BUTTON]", "Pad", 4, 0, 0, 256});
    event_pending = 1;
    statement_hook(10);
    EXPECT_EQ(calls, (std::vector<std::pair<int32_t, int64_t>>{{12, 34}}));
    program_register({nullptr, [] {}, [] {}, nullptr});
    traps_tables_make();
}

// The main thread appends while the program thread steps through the snapshots: every snapshot
// arrives once and in order, except those the full queue dropped, and the newest always arrives.
TEST(InputDevicesThreaded, AppendsWhileTheProgramDrainsLoseOnlyTheDroppedOnes) {
    recorded_boxes boxes;
    input_device_table_make();
    input_devices_init();
    constexpr int32_t total = 100000;
    std::thread window([] {
        for (int32_t i = 1; i <= total; ++i) device_axes_append(mouse_device, float(i), 0);
    });
    int64_t seen = 0;
    float last = 0;
    bool ordered = true;
    while (last < float(total)) {
        if (!device_input_next(0, 0)) continue;
        float v = device_axis_get(1, 1);
        ordered = ordered && v > last;
        last = v;
        ++seen;
    }
    window.join();
    EXPECT_TRUE(ordered);
    EXPECT_EQ(seen + input_device_dropped(mouse_device), total);
    EXPECT_EQ(device_input_next(0, 0), 0);
    input_device_table_make();
}

}  // namespace
