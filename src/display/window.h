// The window: freeglut and GLEW set-up, its callbacks and the main loop.
#pragma once

#include <atomic>
#include <cstdint>

extern std::atomic<int32_t> window_hidden;
extern std::atomic<int32_t> window_create_allowed;
extern std::atomic<int32_t> window_exists;
extern std::atomic<int32_t> fbo_supported;

// Steps 32-37 of start-up: waits for permission, creates the window and runs the main loop.
[[noreturn]] void window_run(int argc, char** argv);
