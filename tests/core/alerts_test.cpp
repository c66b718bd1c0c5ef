#include <gtest/gtest.h>

#include <cstdlib>
#include <fstream>
#include <sstream>
#include <unistd.h>

#include "core/alerts.h"
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

}  // namespace
