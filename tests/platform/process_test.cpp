#include <gtest/gtest.h>

#include <sys/wait.h>
#include <unistd.h>

#include <climits>
#include <csignal>
#include <cstdlib>
#include <string>

#include "platform/process.h"

namespace {

char* const no_environment[] = {nullptr};

int status_of(pid_t child) {
    int status = 0;
    EXPECT_EQ(waitpid(child, &status, 0), child);
    return status;
}

// An ignored signal stays ignored across exec unless the start resets it: a child must not
// inherit the runtime's signal set-up.
TEST(ProcessSpawn, TheChildStartsWithDefaultSignalActions) {
    struct sigaction ignore {}, old {};
    ignore.sa_handler = SIG_IGN;
    sigaction(SIGUSR1, &ignore, &old);
    pid_t child = process_spawn({"/bin/sh", "-c", "kill -USR1 $$; exit 0"}, no_environment, {});
    sigaction(SIGUSR1, &old, nullptr);
    ASSERT_GT(child, 0);
    int status = status_of(child);
    ASSERT_TRUE(WIFSIGNALED(status));
    EXPECT_EQ(WTERMSIG(status), SIGUSR1);
}

TEST(ProcessSpawn, DirectoryAndStandardInputAndPath) {
    char real[PATH_MAX];
    ASSERT_NE(realpath("/tmp", real), nullptr);
    std::string in_dir = std::string("[ \"$(pwd -P)\" = \"") + real + "\" ]";
    EXPECT_EQ(WEXITSTATUS(status_of(process_spawn({"/bin/sh", "-c", in_dir}, no_environment, {.directory = "/tmp"}))), 0);
    // Standard input from /dev/null reads nothing at once.
    EXPECT_EQ(WEXITSTATUS(status_of(process_spawn({"/bin/sh", "-c", "read line; [ $? -ne 0 ]"}, no_environment,
                                                  {.directory = {}, .stdin_null = true}))),
              0);
    // A bare name runs only when the path is searched.
    EXPECT_EQ(process_spawn({"sh", "-c", "exit 0"}, no_environment, {}), -1);
    pid_t found = process_spawn({"sh", "-c", "exit 3"}, no_environment, {.directory = {}, .stdin_null = false, .search_path = true});
    ASSERT_GT(found, 0);
    EXPECT_EQ(WEXITSTATUS(status_of(found)), 3);
    EXPECT_EQ(process_spawn({}, no_environment, {}), -1);
}

}  // namespace
