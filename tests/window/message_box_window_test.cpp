// The message box as an Xlib dialog of its own on a real display.
#include <gtest/gtest.h>

#include <chrono>
#include <cstdlib>
#include <future>
#include <string>
#include <thread>

#include "core/alerts.h"
#include "core/shutdown.h"
#include "platform/message_box.h"

namespace {

using namespace std::chrono_literals;

// Waits until a window with this title exists and returns its id, or "" after 5 s.
std::string window_named(const std::string& title) {
    std::string command = "xdotool search --name '^" + title + "$' 2>/dev/null | head -n 1";
    constexpr int looks = 600;  // 50 ms apart: only a hang runs out, however loaded the machine
    for (int i = 0; i < looks; ++i) {
        std::string id;
        if (FILE* out = popen(command.c_str(), "r")) {
            char line[64] = {};
            if (fgets(line, sizeof line, out)) id = line;
            pclose(out);
        }
        while (!id.empty() && (id.back() == '\n')) id.pop_back();
        if (!id.empty()) return id;
        std::this_thread::sleep_for(50ms);
    }
    return "";
}

class message_box_window : public ::testing::Test {
protected:
    void SetUp() override {
        if (!std::getenv("DISPLAY")) GTEST_SKIP() << "needs an X display";
        unsetenv("LUMO_MSGBOX");  // the real dialog, not the script
        shutdown_flag = 0;
    }
    void TearDown() override { shutdown_flag = 0; }
};

TEST_F(message_box_window, YesNoBoxIsAnsweredByTheKeyboard) {
    auto answer = std::async(std::launch::async, [] {
        return message_box(nullptr, "Line:1\nFile not found\nContinue?", "Unhandled Error #53", 0x1004);
    });
    std::string id = window_named("Unhandled Error #53");
    ASSERT_FALSE(id.empty());
    ASSERT_EQ(std::system(("xdotool windowfocus --sync " + id + " key y").c_str()), 0);
    ASSERT_EQ(answer.wait_for(30s), std::future_status::ready);
    EXPECT_EQ(answer.get(), platform::id_yes);
}

TEST_F(message_box_window, AnOpenBoxClosesWithItsSafeAnswerWhenTheRuntimeShutsDown) {
    auto answer = std::async(std::launch::async, [] { return message_box(nullptr, "waiting", "Box", 0x1004); });
    ASSERT_FALSE(window_named("Box").empty());
    shutdown_flag = 1;
    ASSERT_EQ(answer.wait_for(30s), std::future_status::ready);
    EXPECT_EQ(answer.get(), platform::id_no);
}

}  // namespace
