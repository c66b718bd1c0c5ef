#include "display/input_devices.h"

#include <algorithm>
#include <array>
#include <atomic>
#include <cmath>
#include <cstring>
#include <mutex>
#include <string>
#include <vector>

#include "core/error_codes.h"
#include "core/errors.h"
#include "core/maths.h"
#include "core/strings.h"
#include "core/traps.h"
#include "display/window_hooks.h"

namespace {

constexpr int32_t stamp_bytes = 8;
constexpr int32_t start_snapshots = 2;  // snapshot 0 the previous state, 1 the current one
constexpr int32_t latch_count = 256;
constexpr int32_t controller_axis_neutral = 128;
constexpr int32_t argument_max = 65535;

// What a device record holds besides its lock; a record is registered while its number is at most
// the device count.
struct input_device_fields {
    int32_t kind = 0;
    std::string description;
    std::string name;
    int32_t buttons = 0, axes = 0, wheels = 0;
    int32_t queue_limit = 0;
    int32_t event_size = 0;
    int32_t capacity = 0;
    int32_t count = 0;
    std::vector<uint8_t> buffer;  // capacity * event_size bytes
    uint8_t press_latches[latch_count] = {};
    int64_t dropped = 0;

    uint8_t* snapshot(int32_t i) { return buffer.data() + size_t(i) * size_t(event_size); }
    const uint8_t* snapshot(int32_t i) const { return buffer.data() + size_t(i) * size_t(event_size); }
    size_t axis_offset(int32_t axis) const { return size_t(buttons) + 4 * size_t(axis); }
    size_t wheel_offset(int32_t wheel) const { return axis_offset(axes + wheel); }
    size_t stamp_offset() const { return wheel_offset(wheels); }
};

struct input_device : input_device_fields {
    // Guards the queue: the main thread appends, the program thread steps and reads.
    mutable std::mutex lock;
};

struct input_device_state {
    std::array<input_device, input_device_table_size> table;
    std::atomic<int32_t> count{0};
    std::atomic<uint64_t> stamp{0};
    int32_t current = 0;  // program thread: the current device, 0 for none
};
input_device_state devices;

float float_at(const uint8_t* snapshot, size_t offset) {
    float v;
    std::memcpy(&v, snapshot + offset, sizeof v);
    return v;
}

void float_put(uint8_t* snapshot, size_t offset, float v) { std::memcpy(snapshot + offset, &v, sizeof v); }

uint64_t stamp_of(const input_device& d, int32_t i) {
    uint64_t s;
    std::memcpy(&s, d.snapshot(i) + d.stamp_offset(), sizeof s);
    return s;
}

bool registered(int32_t n) { return n >= 1 && n <= devices.count.load(); }

// Drops snapshot 0; the others move down.
void oldest_drop(input_device& d) {
    std::memmove(d.snapshot(0), d.snapshot(1), size_t(d.count - 1) * size_t(d.event_size));
    --d.count;
}

// Room for one more snapshot: the queue doubles up to its limit, then loses its oldest.
void room_make(input_device& d) {
    if (d.count < d.capacity) return;
    if (d.capacity < d.queue_limit) {
        d.capacity *= 2;
        d.buffer.resize(size_t(d.capacity) * size_t(d.event_size), 0);
        return;
    }
    oldest_drop(d);
    ++d.dropped;
}

// Appends a copy of the newest snapshot, stamped, with change applied to it.
template <class Change>
void snapshot_append(int32_t n, Change change) {
    if (!registered(n)) return;
    input_device& d = devices.table[size_t(n)];
    std::lock_guard<std::mutex> guard(d.lock);
    room_make(d);
    uint8_t* next = d.snapshot(d.count);
    std::memcpy(next, d.snapshot(d.count - 1), size_t(d.event_size));
    uint64_t stamp = devices.stamp.fetch_add(1);
    std::memcpy(next + d.stamp_offset(), &stamp, sizeof stamp);
    change(d, next);
    ++d.count;
}

void keyboard_key(int32_t button, int32_t down) { device_button_change_append(keyboard_device, button, down != 0); }

int32_t fail() {
    error_raise(error_illegal_function_call);
    return 0;
}

// The device a count or description query names: n when given, else the current device.
int32_t named_device(int32_t n, int32_t given) { return given ? n : devices.current; }

// Runs read on the current snapshot when there is a current device and element n (1-based) lies
// within limit_of(device); else error 5 and a neutral result.
template <class Result, class Limit, class Read>
Result current_read(int32_t n, int32_t given, Limit limit_of, Read read) {
    if (error_pending()) return Result{};
    if (!given) n = 1;
    int32_t c = devices.current;
    if (!registered(c)) return Result(fail());
    const input_device& d = devices.table[size_t(c)];
    std::lock_guard<std::mutex> guard(d.lock);
    if (n < 1 || n > limit_of(d)) return Result(fail());
    return read(d, n - 1);
}

template <class Limit>
int32_t count_get(int32_t n, int32_t given, Limit limit_of) {
    if (error_pending()) return 0;
    int32_t device = named_device(n, given);
    if (!registered(device)) return fail();
    return limit_of(devices.table[size_t(device)]);
}

// The k-th controller (from 0) in table order, 0 when there are fewer.
int32_t controller_number(int32_t k) {
    for (int32_t n = 1, count = devices.count.load(); n <= count; ++n)
        if (devices.table[size_t(n)].kind == input_device_controller && k-- == 0) return n;
    return 0;
}

bool argument_valid(int32_t v) { return v >= 0 && v <= argument_max; }

}  // namespace

void input_device_table_make() {
    trap_controller_count_set(input_controller_count);
    for (input_device& d : devices.table) {
        std::lock_guard<std::mutex> guard(d.lock);
        static_cast<input_device_fields&>(d) = input_device_fields{};  // by value: no field forgotten
    }
    devices.count.store(0);
    devices.stamp.store(0);
    devices.current = 0;
}

void input_devices_init() {
    input_device_register({input_device_keyboard, "[KEYBOARD][BUTTON]", "Keyboard", keyboard_device_buttons, 0, 0,
                           keyboard_queue_limit});
    input_device_register({input_device_mouse, "[MOUSE][BUTTON][AXIS][WHEEL]", "Mouse", mouse_device_buttons,
                           mouse_device_axes, mouse_device_wheels, mouse_queue_limit});
    window_keyboard_device_handler_set(keyboard_key);
}

int32_t input_device_register(const input_device_layout& layout) {
    int32_t n = devices.count.load() + 1;
    if (n >= input_device_table_size) return 0;
    input_device& d = devices.table[size_t(n)];
    {
        std::lock_guard<std::mutex> guard(d.lock);
        d.kind = layout.kind;
        d.description = layout.description;
        d.name = layout.name;
        d.buttons = layout.buttons;
        d.axes = layout.axes;
        d.wheels = layout.wheels;
        d.queue_limit = std::max(layout.queue_limit, start_snapshots);
        d.event_size = layout.buttons + 4 * (layout.axes + layout.wheels) + stamp_bytes;
        d.capacity = d.count = start_snapshots;
        d.buffer.assign(size_t(d.capacity) * size_t(d.event_size), 0);
    }
    devices.count.store(n);
    return n;
}

void device_button_append(int32_t device, int32_t button, bool down) {
    snapshot_append(device, [&](input_device& d, uint8_t* s) {
        if (button >= 0 && button < d.buttons) s[button] = down ? 1 : 0;
    });
}

void device_button_change_append(int32_t device, int32_t button, bool down) {
    if (!registered(device)) return;
    {
        input_device& d = devices.table[size_t(device)];
        std::lock_guard<std::mutex> guard(d.lock);
        if (button < 0 || button >= d.buttons || (d.snapshot(d.count - 1)[button] != 0) == down) return;
    }
    // Only the main thread appends, so the newest snapshot cannot change in between.
    device_button_append(device, button, down);
}

void device_axes_append(int32_t device, float axis_1, float axis_2) {
    snapshot_append(device, [&](input_device& d, uint8_t* s) {
        if (d.axes >= 1) float_put(s, d.axis_offset(0), axis_1);
        if (d.axes >= 2) float_put(s, d.axis_offset(1), axis_2);
    });
}

void device_wheel_append(int32_t device, int32_t wheel, float value) {
    snapshot_append(device, [&](input_device& d, uint8_t* s) {
        if (wheel >= 0 && wheel < d.wheels) float_put(s, d.wheel_offset(wheel), value);
    });
}

int32_t device_count() { return devices.count.load(); }

int32_t input_controller_count() {
    int32_t controllers = 0;
    for (int32_t d = 1, n = device_count(); d <= n; ++d)
        if (input_device_kind(d) == input_device_controller) ++controllers;
    return controllers;
}

int32_t input_device_kind(int32_t n) { return registered(n) ? devices.table[size_t(n)].kind : 0; }

string_descriptor* device_description_get(int32_t n, int32_t given) {
    if (error_pending()) return string_empty;
    int32_t device = named_device(n, given);
    if (!registered(device)) {
        fail();
        return string_empty;
    }
    const std::string& text = devices.table[size_t(device)].description;
    return string_from_literal(text.data(), static_cast<int32_t>(text.size()));
}

int32_t device_input_next(int32_t n, int32_t given) {
    if (error_pending()) return 0;
    devices.current = 0;
    int32_t chosen = 0, result = -1;
    if (given) {
        if (!registered(n)) return fail();
        chosen = n;
    } else {
        // The device whose oldest unread snapshot came first; ties go to the lower number.
        uint64_t first = 0;
        for (int32_t i = 1, count = devices.count.load(); i <= count; ++i) {
            const input_device& d = devices.table[size_t(i)];
            std::lock_guard<std::mutex> guard(d.lock);
            if (d.count <= start_snapshots) continue;
            uint64_t stamp = stamp_of(d, start_snapshots);
            if (!chosen || stamp < first) chosen = i, first = stamp;
        }
        if (!chosen) return 0;
        result = chosen;
    }
    devices.current = chosen;
    input_device& d = devices.table[size_t(chosen)];
    std::lock_guard<std::mutex> guard(d.lock);
    if (d.count <= start_snapshots) return 0;
    oldest_drop(d);
    return result;
}

int32_t device_button_get(int32_t n, int32_t given) {
    return current_read<int32_t>(n, given, [](const input_device& d) { return d.buttons; },
                                 [](const input_device& d, int32_t b) { return d.snapshot(1)[b] ? -1 : 0; });
}

int32_t device_button_change_get(int32_t n, int32_t given) {
    return current_read<int32_t>(n, given, [](const input_device& d) { return d.buttons; },
                                 [](const input_device& d, int32_t b) {
                                     bool was = d.snapshot(0)[b] != 0, is = d.snapshot(1)[b] != 0;
                                     return was == is ? 0 : is ? -1 : 1;
                                 });
}

float device_axis_get(int32_t n, int32_t given) {
    return current_read<float>(n, given, [](const input_device& d) { return d.axes; },
                               [](const input_device& d, int32_t a) {
                                   return float_at(d.snapshot(1), d.axis_offset(a));
                               });
}

float device_wheel_get(int32_t n, int32_t given) {
    return current_read<float>(n, given, [](const input_device& d) { return d.wheels; },
                               [](const input_device& d, int32_t w) {
                                   return float_at(d.snapshot(1), d.wheel_offset(w));
                               });
}

int32_t device_button_count(int32_t n, int32_t given) {
    return count_get(n, given, [](const input_device& d) { return d.buttons; });
}

int32_t device_axis_count(int32_t n, int32_t given) {
    return count_get(n, given, [](const input_device& d) { return d.axes; });
}

int32_t device_wheel_count(int32_t n, int32_t given) {
    return count_get(n, given, [](const input_device& d) { return d.wheels; });
}

int32_t controller_axis_get(int32_t f, int32_t s, int32_t given) {
    if (error_pending()) return 0;
    if (!given) s = 1;
    if (s < 1 || s > argument_max || !argument_valid(f)) return fail();
    int32_t axis = (s - 1) * 2 + (f & 1);
    int32_t n = controller_number(f >> 1);
    if (!n) return controller_axis_neutral;
    const input_device& d = devices.table[size_t(n)];
    std::lock_guard<std::mutex> guard(d.lock);
    if (axis >= d.axes) return controller_axis_neutral;
    float v = float_at(d.snapshot(d.count - 1), d.axis_offset(axis));
    if (v > -0.01f && v <= 0.01f) v = 0;
    int32_t r = std::min(float_to_int32(std::clamp(v, -2.0f, 2.0f) * 127.0f) + 127, 254);
    return r <= 0 ? 1 : r;
}

int32_t controller_button_get(int32_t f, int32_t c, int32_t given) {
    if (error_pending()) return 0;
    if (!argument_valid(f)) return fail();
    if (!given) {
        c = 1;
        if (f & 2) c = 2, f -= 2;
    } else if (c < 1 || c > argument_max) {
        return fail();
    }
    int32_t n = controller_number(c - 1);
    if (!n) return 0;
    input_device& d = devices.table[size_t(n)];
    std::lock_guard<std::mutex> guard(d.lock);
    int32_t b = (f >> 2) + 1;
    if (b > d.buttons) return 0;
    if (f & 1) return d.snapshot(d.count - 1)[b - 1] ? -1 : 0;
    if (b > latch_count || !d.press_latches[b - 1]) return 0;
    d.press_latches[b - 1] = 0;
    return -1;
}

int64_t input_device_dropped(int32_t n) {
    if (!registered(n)) return 0;
    const input_device& d = devices.table[size_t(n)];
    std::lock_guard<std::mutex> guard(d.lock);
    return d.dropped;
}
