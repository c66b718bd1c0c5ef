// Test helpers for the file layer: a fresh directory per test, file bytes written and read back
// without the runtime, a clean file table and string store, and the pending error taken.
#pragma once

#include <gtest/gtest.h>

#include <fcntl.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <iterator>
#include <string>
#include <string_view>
#include <thread>

#include "core/errors.h"
#include "core/memory.h"
#include "core/runtime_fixture.h"
#include "core/strings.h"
#include "files/file_handles.h"

// A bound on elapsed time that no load on the machine reaches, only a hang or a kernel time-out
// does (a lease break waits 45 s): for checks that a call answers instead of waiting.
constexpr auto hang_bound = std::chrono::seconds(20);

// How long a plain sleep of ms takes on this machine now. A wait of the runtime's own is stretched
// by the same load, so comparing with it tells how long the runtime meant to wait, without a fixed
// bound.
inline std::chrono::nanoseconds sleep_taking(std::chrono::milliseconds ms) {
    auto start = std::chrono::steady_clock::now();
    std::this_thread::sleep_for(ms);
    return std::chrono::steady_clock::now() - start;
}

// A record lock request as another program makes it: type over length bytes from start (0: to the
// end and beyond), for fcntl.
inline struct flock lock_request(short type, int64_t start, int64_t length) {
    struct flock fl{};
    fl.l_type = type;
    fl.l_whence = SEEK_SET;
    fl.l_start = start;
    fl.l_len = length;
    return fl;
}

// The pending error, cleared.
inline int32_t error_take() { return error_number.exchange(0); }

// A temporary string holding text (valid for the test), and a string's text read back.
inline string_descriptor* text(std::string_view t) { return string_temp_from_text(t); }
inline std::string text_of(const string_descriptor* s) { return std::string(string_text_view(s)); }

class file_test : public ::testing::Test {
protected:
    void SetUp() override {
        char pattern[] = "/tmp/lumo-files-XXXXXX";
        ASSERT_NE(::mkdtemp(pattern), nullptr);
        dir = pattern;
        dos_memory_clear();
        string_store_reset();
        string_segment_init();
        file_handles_reset();
    }
    void TearDown() override {
        file_handles_reset();
        string_store_reset();
        std::string command = "chmod -R u+w '" + dir + "' && rm -rf '" + dir + "'";
        std::system(command.c_str());
    }

    std::string path(std::string_view name) const { return dir + "/" + std::string(name); }

    void write_file(std::string_view name, std::string_view bytes) const {
        std::ofstream out(path(name), std::ios::binary);
        out.write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
    }
    std::string read_file(std::string_view name) const {
        std::ifstream in(path(name), std::ios::binary);
        return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
    }
    bool exists(std::string_view name) const {
        struct stat st;
        return ::stat(path(name).c_str(), &st) == 0;
    }

    recorded_boxes boxes;
    std::string dir;
};

// Runs body in a forked child and answers its exit status (the child's runtime is a copy).
template <class Body>
int in_child(Body body) {
    pid_t pid = ::fork();
    if (pid == 0) ::_exit(body());
    int status = 0;
    ::waitpid(pid, &status, 0);
    return WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
}
