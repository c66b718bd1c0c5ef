#include <gtest/gtest.h>

#include <fcntl.h>
#include <sys/stat.h>
#include <sys/wait.h>

#include <atomic>
#include <chrono>
#include <thread>

#include "files/environment.h"
#include "files/file_fixture.h"
#include "files/shell.h"

namespace {

class Shell : public file_test {
protected:
    void SetUp() override {
        file_test::SetUp();
        environment_reset();
    }
    int64_t hidden(std::string_view command) { return shell_run_hidden_wait_result(text(command)); }
    // A command that runs until the test lets it end: it reads from a FIFO that the test opens.
    std::string held_command() {
        ::mkfifo(path("gate").c_str(), 0600);
        return "read x < '" + path("gate") + "'";
    }
    // Waits until the held command runs (its open of the FIFO meets this one); closing the
    // descriptor answered lets it end.
    int held_command_running() { return ::open(path("gate").c_str(), O_WRONLY | O_CLOEXEC); }
};
class ShellThreaded : public Shell {};

TEST(ShellStatus, ExitCodesAndSignals) {
    EXPECT_EQ(shell_exit_code_of_status(7 << 8), 7);
    EXPECT_EQ(shell_exit_code_of_status(SIGKILL), 128 + SIGKILL);
}

TEST_F(Shell, ExitCodesOfTheChild) {
    EXPECT_EQ(hidden("exit 7"), 7);
    EXPECT_EQ(hidden("exit 0"), 0);
    EXPECT_EQ(hidden("kill -9 $$"), 137);
    EXPECT_EQ(hidden("lumo-no-such-program"), 127);
    EXPECT_EQ(error_take(), 0);
    EXPECT_EQ(shell_cmd_available(), 1);
}

TEST_F(Shell, NothingRunsForANulABlankStartOrAnEmptyHiddenCommand) {
    std::string marker = path("marker");
    EXPECT_EQ(hidden("touch " + marker + std::string("\0x", 2)), 1);
    EXPECT_EQ(error_take(), 5);
    EXPECT_FALSE(exists("marker"));
    EXPECT_EQ(hidden(" touch " + marker), 1);
    EXPECT_EQ(shell_run_wait_result(text(" touch " + marker)), 0);
    EXPECT_FALSE(exists("marker"));
    EXPECT_EQ(hidden(""), 1);
    EXPECT_EQ(error_take(), 5);
    shell_run_hidden(text("x"), 0);
    EXPECT_EQ(error_take(), 5);
    shell_run_hidden_nowait(text(""), shell_flag_command_given);
    EXPECT_EQ(error_take(), 5);
}

TEST_F(Shell, TheChildGetsTheEnvironmentTableAndNoneOfTheRuntimesDescriptors) {
    env_set(text("LUMO_SHELL_T=bar"));
    EXPECT_EQ(hidden("test \"$LUMO_SHELL_T\" = bar"), 0);
    int32_t slot = file_handle_open(path("held"), file_access_write, 0, 1);
    ASSERT_GE(slot, 0);
    EXPECT_EQ(hidden("ls -l /proc/$$/fd | grep -q " + path("held")), 1);
}

TEST_F(Shell, ANoWaitChildIsReapedAndLeavesNoZombie) {
    shell_run_nowait(text(held_command()), shell_flag_command_given);  // answers while the command runs
    int gate = held_command_running();
    EXPECT_GE(gate, 0);
    ::close(gate);
    shell_run_hidden(text("exit 3"), shell_flag_hidden_nowait | shell_flag_command_given);
    // Both children end and the runtime reaps them: soon this process has no child left, not even
    // a zombie (looked at without reaping).
    auto deadline = std::chrono::steady_clock::now() + hang_bound;
    siginfo_t info{};
    int answer = 0;
    while ((answer = ::waitid(P_ALL, 0, &info, WEXITED | WNOHANG | WNOWAIT)) == 0 &&
           std::chrono::steady_clock::now() < deadline)
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
    EXPECT_EQ(answer, -1);
    EXPECT_EQ(errno, ECHILD);
}

TEST_F(Shell, ADocumentIsOpenedWithTheOpenerOnThePath) {
    ::mkdir(path("bin").c_str(), 0777);
    write_file("bin/xdg-open", "#!/bin/sh\necho \"$1\" > " + path("opened") + "\n");
    ::chmod(path("bin/xdg-open").c_str(), 0755);
    write_file("notes.txt", "a document");
    std::string old_path = std::getenv("PATH");
    ::setenv("PATH", (path("bin") + ":" + old_path).c_str(), 1);
    EXPECT_EQ(hidden(path("NOTES.TXT")), 0);  // found through the case-insensitive match
    ::setenv("PATH", old_path.c_str(), 1);
    EXPECT_EQ(read_file("opened"), path("notes.txt") + "\n");
    EXPECT_EQ(shell_document_of(path("bin/xdg-open")), "");  // an executable is run, not opened
}

TEST_F(Shell, InternalCommandNamesAreWholeTexts) {
    EXPECT_EQ(shell_is_internal_command(text("dir")), 1);
    EXPECT_EQ(shell_is_internal_command(text("Rename")), 1);
    EXPECT_EQ(shell_is_internal_command(text("dir /w")), 0);
    EXPECT_EQ(shell_is_internal_command(text("notepad")), 0);
}

TEST_F(ShellThreaded, TheChildRunningFlagIsSetWhileAWaitingFormWaits) {
    const std::string command = held_command();
    std::atomic<bool> done{false};
    std::thread waiter([&] {
        shell_run_hidden(string_from_literal(command.data(), static_cast<int32_t>(command.size())),
                         shell_flag_command_given);
        done = true;
    });
    int gate = held_command_running();
    // The flag is set just after the start, which the command's open of the FIFO may overtake.
    auto deadline = std::chrono::steady_clock::now() + hang_bound;
    while (shell_child_running.load() == 0 && std::chrono::steady_clock::now() < deadline) std::this_thread::yield();
    EXPECT_EQ(shell_child_running.load(), 1);
    EXPECT_FALSE(done);
    ::close(gate);
    waiter.join();
    EXPECT_EQ(shell_child_running.load(), 0);
}

}  // namespace
