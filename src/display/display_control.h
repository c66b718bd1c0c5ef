// Display settings that a program steers and the renderer and window read: frame rate, full
// screen, layer order, window resizing and stretching, and the window-size callback. The setters
// only store; the frame builder and the renderer act on them. Automatic display lives with the
// frame builder (frames.h).
#pragma once

#include <atomic>
#include <cstdint>

// Frames per second of the renderer's timer, 1 to 200.
extern std::atomic<double> display_fps;
// Set by the automatic form of display_fps_set; nothing reads it.
extern std::atomic<int32_t> display_fps_auto;
// 0 windowed, 1 full screen stretched, 2 full screen with the aspect kept.
extern std::atomic<int32_t> fullscreen_mode;
// Requested mode, -1 none; the renderer applies and clears it.
extern std::atomic<int32_t> fullscreen_request;
// Linear filtering while scaled in full screen.
extern std::atomic<int32_t> fullscreen_smooth;

// Drawing position (1-4, 0 hidden) of layer 1 (the software screen), 2 (screen hardware layer 0),
// 3 (screen hardware layer 1) and 4 (a layer without a drawing pass), at index layer - 1.
constexpr int display_layer_count = 4;
extern std::atomic<int32_t> display_layer_order[display_layer_count];
// Position of a layer (1-4), 0 when hidden.
int32_t display_layer_position(int32_t layer);

// 1: the window follows the picture's size; 0: the user may resize it.
extern std::atomic<int32_t> window_resize_locked;
// Windowed and sized differently from the picture: 0 shown 1:1, 1 stretched, 2 stretched smoothly.
extern std::atomic<int32_t> window_stretch_mode;
// -1 after a window-size callback, until window_resize_event_get reads it.
extern std::atomic<int32_t> window_resize_pending;
// Client size reported by the last window-size callback.
extern std::atomic<int32_t> window_resize_width;
extern std::atomic<int32_t> window_resize_height;
// Current and previous client size of the window (640 x 400 at start).
extern std::atomic<int32_t> window_width;
extern std::atomic<int32_t> window_height;
extern std::atomic<int32_t> window_previous_width;
extern std::atomic<int32_t> window_previous_height;
// Set by the window-size callback so the renderer draws; cleared by the renderer.
extern std::atomic<int32_t> window_reshaped;
// The renderer asked for a new window size and no callback has answered yet (1 at start).
extern std::atomic<int32_t> window_reshape_pending;

// form 1: automatic rate; form 2: value frames per second (below 1 or not a number: error 5,
// above 200: 200). Any other form: error 5.
void display_fps_set(double value, int32_t form);
// kind 0 or 2 full screen stretched, 1 windowed, 3 full screen with the aspect kept; options bit 0
// smooths. Always forces the next frame to be built.
void fullscreen_set(int32_t kind, int32_t options);
int32_t fullscreen_get();
// Alt+Enter: windowed -> stretched -> stretched smoothly -> aspect kept -> aspect kept smoothly ->
// windowed. Forces the next frame to be built.
void fullscreen_step();
// Each argument a layer number 1-4 or 0; the argument in place i puts its layer at position i.
void display_order_set(int32_t a, int32_t b, int32_t c, int32_t d);
void display_order_preset(int32_t kind);
// kind 1 lets the user resize, 2 locks the size to the picture; stretch is stored as given.
void window_resize_mode_set(int32_t kind, int32_t stretch);
// -1 once per user resize while resizing is allowed, else 0.
int32_t window_resize_event_get();
int32_t window_resize_width_get();
int32_t window_resize_height_get();

// The window layer's resize callback (main thread).
void glut_reshape_callback(int width, int height);

// Start values of every setting (tests; start-up relies on the initialisers).
void display_control_reset();
