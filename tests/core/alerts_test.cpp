#include <gtest/gtest.h>

#include <sys/stat.h>

#include <atomic>
#include <chrono>
#include <cstdlib>
#include <fstream>
#include <sstream>
#include <thread>
#include <unistd.h>

#include "core/alerts.h"
#include "core/shutdown.h"
#include "platform/process.h"

namespace {

TEST(DebugLogDeathTest, WritesLogTxtInTheCurrentDirectoryAndFlushesAtExit) {
    GTEST_FLAG_SET(death_test_style, "fast");
    char dir[] = "/tmp/lumo-log-XXXXXX";
    ASSERT_NE(mkdtemp(dir), nullptr);
    EXPECT_EXIT(
        {
            if (chdir(dir) != 0) _exit(3);
            debug_log_text("value ");
            debug_log_int(-7);
            process_exit(0);
        },
        ::testing::ExitedWithCode(0), "");
    std::ifstream log(std::string(dir) + "/log.txt");
    std::stringstream text;
    text << log.rdbuf();
    EXPECT_EQ(text.str(), "value -7");
    std::remove((std::string(dir) + "/log.txt").c_str());
    rmdir(dir);
}

TEST(DebugLogDeathTest, ALogThatCouldNotBeMadeIsTriedAgainAtTheNextWrite) {
    GTEST_FLAG_SET(death_test_style, "fast");
    char dir[] = "/tmp/lumo-log-XXXXXX";
    ASSERT_NE(mkdtemp(dir), nullptr);
    const std::string path = std::string(dir) + "/log.txt";
    EXPECT_EXIT(
        {
            if (chdir(dir) != 0 || mkdir("log.txt", 0700) != 0) _exit(3);  // a directory in the way
            debug_log_text("lost ");
            if (rmdir("log.txt") != 0) _exit(4);
            debug_log_text("kept");
            process_exit(0);
        },
        ::testing::ExitedWithCode(0), "");
    std::ifstream log(path);
    std::stringstream text;
    text << log.rdbuf();
    EXPECT_EQ(text.str(), "kept");
    std::remove(path.c_str());
    rmdir(dir);
}

// Looks of a millisecond each: only a hang runs out of them, however loaded the machine.
constexpr int looks_before_a_hang = 60000;

TEST(RequestAckThreaded, TheWaitEndsWhenTheRuntimeShutsDown) {
    std::atomic<bool> ended{false};
    std::thread waiter([&] {
        request_ack_wait();
        ended = true;
    });
    // The waiter raises the request once it runs, which a loaded machine may delay; then it waits.
    for (int i = 0; i < looks_before_a_hang && request_flag.load() != 1; ++i)
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
    EXPECT_EQ(request_flag.load(), 1);
    std::this_thread::sleep_for(std::chrono::milliseconds(20));
    EXPECT_FALSE(ended.load());
    shutdown_flag = 1;
    for (int i = 0; i < looks_before_a_hang && !ended; ++i)
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
    EXPECT_TRUE(ended.load());
    if (ended) waiter.join();
    else waiter.detach();  // it would wait for good
    shutdown_flag = 0;
    request_flag = 0;
}

}  // namespace
