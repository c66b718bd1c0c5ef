// The program window: its creation through freeglut and GLEW (the last start-up steps), the main
// loop, and the window statements: title, position, visibility, the console window and the
// operating-system string. freeglut is not thread-safe, so the window calls that the program
// thread makes are handed to the main thread as requests, run between two turns of the main loop;
// queries wait for their answer. Statements that need the window wait until it exists. It does not
// draw (the renderer does) nor read input (the window hooks and the devices do).
#pragma once

#include <atomic>
#include <cstdint>
#include <string>

struct string_descriptor;

extern std::atomic<int32_t> window_hidden;
extern std::atomic<int32_t> window_create_allowed;
extern std::atomic<int32_t> window_exists;
extern std::atomic<int32_t> fbo_supported;
// Start-up options the window reads, set before it is made: a window that may be resized, a
// program made with a console, and that console's text image.
extern int32_t window_resizable;
extern int32_t console_option;
extern int32_t console_image_handle;

// The last start-up steps: waits for permission, creates the window, registers the callbacks and
// runs the main loop on the calling (main) thread; the process ends from another thread.
[[noreturn]] void window_run(int argc, char** argv);
// Any thread: the main loop, which sleeps while it has nothing to do, looks again at once (a frame
// to show, a request, a changed display setting).
void main_loop_wake();

// Program thread.
void window_title_set(string_descriptor* text);
// The title the window has, or gets at creation ("Untitled" until one is set).
std::string window_title_get();
string_descriptor* os_string_get();
// Desktop position of the window's outer frame.
int32_t window_x_get();
int32_t window_y_get();
// kind 2 moves the window to (x, y); kinds 0 and 3 are error 5; any other kind centres it.
// Nothing in full screen.
void window_position_set(int32_t x, int32_t y, int32_t kind);
void window_show();
void window_hide();
int32_t window_resizable_get();
// The pointer's shape (a window-system cursor number) over the window: unless the window is
// hidden, waits until it exists. A hidden window takes no shape.
void window_cursor_set(int32_t cursor);
// Moves the pointer to a client position of the window; nothing before the window exists.
void window_pointer_move(int32_t x, int32_t y);
// The native window (the X window id), stored by the window layer after it made the window.
void window_handle_store(uint64_t handle);
uint64_t window_handle_get();

// The console window of a program made with a console; nothing without one.
int32_t console_image_handle_get();
void console_window_show(int32_t show);
void console_title_set(string_descriptor* text);

// Main thread, for the renderer: a new client size (a window that may not be resized keeps that
// size fixed), and entering and leaving full screen.
void window_client_size_set(int32_t width, int32_t height);
void window_fullscreen_enter();
void window_fullscreen_leave();
