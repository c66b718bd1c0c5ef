#include "files/shell.h"

#include <fcntl.h>
#include <poll.h>
#include <sys/stat.h>
#include <sys/syscall.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <csignal>
#include <cstdlib>
#include <thread>
#include <vector>

#include "core/error_codes.h"
#include "core/errors.h"
#include "core/shutdown.h"
#include "core/strings.h"
#include "display/display_control.h"
#include "files/environment.h"
#include "files/path_names.h"
#include "platform/process.h"

std::atomic<int32_t> shell_child_running{0};

namespace {

constexpr const char* shell_path = "/bin/sh";
constexpr int64_t result_not_started = 1;
constexpr int64_t fullscreen_wait_ms = 2000;
constexpr int child_wait_turn_ms = 100;

constexpr const char* internal_commands[] = {
    "ASSOC",  "BREAK",  "BCDBOOT", "BCDEDIT", "CALL",     "CD",     "CHDIR", "CLS",   "COLOR", "COPY",
    "DATE",   "DEFRAG", "DEL",     "DIR",     "ECHO",     "ENDLOCAL", "ERASE", "FOR", "FTYPE", "GOTO",
    "GRAFTABL", "IF",   "MD",      "MKDIR",   "MKLINK",   "MOVE",   "PATH",  "PAUSE", "POPD",  "PROMPT",
    "PUSHD",  "RD",     "REM",     "REN",     "RENAME",   "RMDIR",  "SET",   "SETLOCAL", "SHIFT", "START",
    "TIME",   "TITLE",  "TYPE",    "VER",     "VERIFY",   "VOL"};

std::string program_on_path(std::string_view name) {
    const char* path = std::getenv("PATH");
    std::string_view dirs = path ? path : "/usr/bin:/bin";
    while (!dirs.empty()) {
        size_t colon = dirs.find(':');
        std::string candidate = std::string(dirs.substr(0, colon)) + "/" + std::string(name);
        if (::access(candidate.c_str(), X_OK) == 0) return candidate;
        dirs = colon == dirs.npos ? std::string_view{} : dirs.substr(colon + 1);
    }
    return {};
}

// A started child: its process id, or -1 when nothing was started.
pid_t spawn(const std::vector<std::string>& args, bool hidden) {
    std::vector<char*> envp = environment_envp();
    return process_spawn(args, envp.data(), {.directory = {}, .stdin_null = hidden});
}

// Waits for the child: its exit code. The runtime's shutdown does not wait for it.
int64_t child_wait(pid_t pid) {
    shell_child_running.store(1);
    int pidfd = static_cast<int>(::syscall(SYS_pidfd_open, pid, 0));
    int status = 0;
    for (;;) {
        pid_t r = ::waitpid(pid, &status, WNOHANG);
        if (r == pid || (r < 0 && errno != EINTR)) break;
        if (runtime_shutting_down()) {
            shell_child_running.store(0);
            program_thread_park();
        }
        if (pidfd >= 0) {
            pollfd p{pidfd, POLLIN, 0};
            ::poll(&p, 1, child_wait_turn_ms);
        } else {
            std::this_thread::sleep_for(std::chrono::milliseconds(child_wait_turn_ms));
        }
    }
    if (pidfd >= 0) ::close(pidfd);
    shell_child_running.store(0);
    return shell_exit_code_of_status(status);
}

// A child nobody waits for is still reaped, so none is left a zombie.
void child_release(pid_t pid) {
    std::thread([pid] {
        int status;
        while (::waitpid(pid, &status, 0) < 0 && errno == EINTR) {
        }
    }).detach();
}

// The argument vector of a command: a document for xdg-open, else the shell; empty when nothing
// is to start (a command that begins with a blank).
std::vector<std::string> launch_args(std::string_view command) {
    if (command.empty()) return {shell_path};
    if (command.front() == ' ') return {};
    std::string document = shell_document_of(command);
    if (!document.empty()) {
        std::string opener = program_on_path("xdg-open");
        if (!opener.empty()) return {opener, document};
    }
    return {shell_path, "-c", std::string(command)};
}

// Runs a command: its exit code when waiting, 0 once a child started without waiting, 1 when
// nothing could be started; nothing_started when the command asks for nothing.
int64_t launch(std::string_view command, bool hidden, bool wait, int64_t nothing_started) {
    std::vector<std::string> args = launch_args(command);
    if (args.empty()) return nothing_started;
    pid_t pid = spawn(args, hidden);
    if (pid < 0) return result_not_started;
    if (!wait) {
        child_release(pid);
        return 0;
    }
    return child_wait(pid);
}

// Waits at most a while for the window to reach a full-screen state.
template <class Done>
void fullscreen_wait(Done done) {
    auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(fullscreen_wait_ms);
    while (!done() && std::chrono::steady_clock::now() < deadline && !runtime_shutting_down())
        std::this_thread::sleep_for(std::chrono::milliseconds(5));
}

// The shown waiting forms: out of full screen while the child runs, then back.
int64_t launch_shown_waiting(std::string_view command) {
    int32_t mode = fullscreen_mode.load();
    int32_t smooth = fullscreen_smooth.load();
    if (mode != 0) {
        fullscreen_set(1, smooth);
        fullscreen_wait([] { return fullscreen_mode.load() == 0; });
    }
    int64_t code = launch(command, false, true, 0);
    if (mode != 0) {
        fullscreen_set(mode == 2 ? 3 : 0, smooth);
        fullscreen_wait([] { return fullscreen_mode.load() != 0; });
    }
    return code;
}

// A NUL would cut the command short and run another one: nothing runs.
bool command_ok(std::string_view command) {
    if (command.find('\0') == command.npos) return true;
    error_raise(error_illegal_function_call);
    return false;
}

}  // namespace

int64_t shell_exit_code_of_status(int status) {
    if (WIFEXITED(status)) return WEXITSTATUS(status);
    if (WIFSIGNALED(status)) return 128 + WTERMSIG(status);
    return result_not_started;
}

std::string shell_document_of(std::string_view command) {
    if (command.size() >= 2 && command.front() == '"' && command.back() == '"')
        command = command.substr(1, command.size() - 2);
    std::string path;
    if (command.empty() || file_name_fix(command, path) != 0) return {};
    struct stat st;
    if (::stat(path.c_str(), &st) != 0 || !S_ISREG(st.st_mode) || (st.st_mode & 0111) != 0) return {};
    return path;
}

int32_t shell_cmd_available() {
    static int32_t available = ::access(shell_path, X_OK) == 0 ? 1 : 0;
    return available;
}

int32_t shell_is_internal_command(string_descriptor* text) {
    std::string upper(string_text_view(text));
    std::transform(upper.begin(), upper.end(), upper.begin(), [](char c) { return (c >= 'a' && c <= 'z') ? c - 32 : c; });
    return std::find(std::begin(internal_commands), std::end(internal_commands), upper) != std::end(internal_commands);
}

int64_t shell_run_wait_result(string_descriptor* command) {
    if (error_pending()) return 1;
    if (!command_ok(string_text_view(command))) return 1;
    return launch_shown_waiting(string_text_view(command));
}

int64_t shell_run_hidden_wait_result(string_descriptor* command) {
    if (error_pending()) return 1;
    std::string_view text = string_text_view(command);
    if (text.empty()) return error_raise(error_illegal_function_call), 1;
    if (!command_ok(text)) return 1;
    return launch(text, true, true, result_not_started);
}

void shell_run_wait(string_descriptor* command, int32_t command_given) {
    if (error_pending()) return;
    std::string_view text = command_given ? string_text_view(command) : std::string_view{};
    if (command_ok(text)) launch_shown_waiting(text);
}

void shell_run_hidden(string_descriptor* command, int32_t flags) {
    if (error_pending()) return;
    if (flags & shell_flag_hidden_nowait) return shell_run_hidden_nowait(command, flags & shell_flag_command_given);
    std::string_view text = (flags & shell_flag_command_given) ? string_text_view(command) : std::string_view{};
    if (text.empty()) return error_raise(error_illegal_function_call);
    if (command_ok(text)) launch(text, true, true, result_not_started);
}

void shell_run_nowait(string_descriptor* command, int32_t flags) {
    if (error_pending()) return;
    if (flags & shell_flag_hidden_nowait) return shell_run_hidden_nowait(command, flags & shell_flag_command_given);
    std::string_view text = (flags & shell_flag_command_given) ? string_text_view(command) : std::string_view{};
    if (command_ok(text)) launch(text, false, false, 0);
}

void shell_run_hidden_nowait(string_descriptor* command, int32_t flags) {
    std::string_view text = (flags & shell_flag_command_given) ? string_text_view(command) : std::string_view{};
    if (text.empty()) return error_raise(error_illegal_function_call);
    if (command_ok(text)) launch(text, true, false, result_not_started);
}
