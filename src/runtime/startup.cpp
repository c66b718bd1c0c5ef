#include "runtime/startup.h"

#include <unistd.h>

#include <vector>

#include "core/fatal_signals.h"
#include "core/memory.h"
#include "core/program_interface.h"
#include "core/program_stack.h"
#include "core/stacks.h"
#include "core/strings.h"
#include "core/timing.h"
#include "core/traps.h"
#include "display/display_control.h"
#include "display/frames.h"
#include "display/input_devices.h"
#include "display/keyboard.h"
#include "display/line_editor.h"
#include "display/mouse.h"
#include "display/renderer.h"
#include "display/window.h"
#include "files/environment.h"
#include "files/file_open.h"
#include "files/network.h"
#include "files/sequential.h"
#include "machine/x86.h"
#include "runtime/control.h"
#include "screen/fonts.h"
#include "screen/hardware_images.h"
#include "screen/image_handles.h"
#include "screen/image_pool.h"
#include "screen/modes.h"
#include "screen/palette.h"
#include "screen/printer.h"

extern char** environ;

int32_t stretch_option = 0;
int32_t start_hidden_option = 0;

int32_t console_is_own = 0;

namespace {

void current_directory_to_executable() {
    std::string dir = executable_directory_of(executable_path());
    if (!dir.empty() && chdir(dir.c_str()) != 0) {
        // Staying in the directory we were started in is the best we can do.
    }
}

int32_t environment_entries() {
    int32_t n = 0;
    for (char** e = environ; e && *e; ++e) ++n;
    return n;
}

// The two 32-bit start-up images: nothing reads them again, they only take their slots.
void startup_images_make() {
    image_handle_new(16, 16, 32, 1);
    image_handle_new(32, 32, 32, 1);
}


// The console's text image: its output goes to standard output.
void console_image_make() {
    console_image_handle = image_handle_new(80, 25, 0, 0);
    if (image_record* console = image_handle_record(console_image_handle)) console->is_console = 1;
}

}  // namespace

void window_resizable_set() { window_resizable = 1; }
void startup_hook_empty() {}
void control_tick_hook_empty() {}
void exit_hook_empty() {}

void runtime_static_init() {
    // The runtime's large tables are made by their modules on first use or at their start-up step.
}

void program_static_init() {
    return_stack_init();
    input_device_table_make();
    traps_tables_make();
}

std::string executable_path() {
    std::vector<char> buffer(65536);
    ssize_t n = readlink("/proc/self/exe", buffer.data(), buffer.size() - 1);
    return n > 0 ? std::string(buffer.data(), static_cast<size_t>(n)) : std::string();
}

std::string executable_directory_of(const std::string& path) {
    size_t cut = path.find_last_of("\\/:");
    if (cut == std::string::npos) return path;
    if (path[cut] == ':') return path.substr(0, cut + 1);
    if (cut == 0) return path.substr(0, 1);  // the root directory itself
    return path.substr(0, cut);
}

std::string command_line_join(int argc, char** argv) {
    std::string line;
    for (int i = 1; i < argc; ++i) {
        if (i > 1) line += ' ';
        line += argv[i];
    }
    return line;
}

void runtime_start(int argc, char** argv) {
    runtime_static_init();
    program_static_init();

    renderer_state_reset();                              // 1
    software_frames_reset();                             // 2
    if (auto options = program_registered().window_options) options();  // 3
    if (window_resizable) window_resize_locked.store(0);
    if (stretch_option != 0) window_stretch_mode.store(stretch_option);
    network_lists_create();                              // 4
    hardware_lists_create();
    startup_hook_empty();                                // 5
    if (start_hidden_option) window_hidden.store(1);     // 6
    console_is_own = 0;                                  // 7: a translated program here has no console
    key_trap_defaults_set();                             // 8
    timer_trap_zero_init();                              // 9
    current_directory_to_executable();                   // 10
    environment_count = environment_entries() + 1;       // 11
    font_metrics_init();                                 // 12
    image_pool_reserve();                                // 13
    x86_registers_init();                                // 14
    file_print_blanks_init();                            // 15
    file_layer_init();                                   // the close of all files at the end
    line_editor_init();                                  // the seed prompt reads through the editor
    printer_init();                                      // the control thread's printer flush
    scancode_queue_init();                               // 16
    local_stack_init();                                  // 17
    dos_memory_clear();                                  // 18
    string_segment_init();                               // 19
    startup_strings_make(command_line_join(argc, argv)); // 20, 21
    timer_base_init();                                   // 22
    lock_keys_read();                                    // 23
    key_rings_reset();                                   // 24
    mouse_ring_init();                                   // 25
    palettes_load();                                     // 26
    screen_mode_set(0, 0, 0, 0, 0, 1);                   // 27
    row50_switch_armed = 1;
    if (console_option) console_image_make();           // 28
    startup_images_make();                               // 29
    input_devices_init();                                // 30

    // 31. The hand-over flag goes on before the program thread starts, so its first mode change
    // already waits for the frame builder.
    frame_suspend_enabled = 1;
    program_thread_start(program_registered().thread_entry);
    fatal_signal_thread_start(timer_thread_entry, "timer");
    fatal_signal_thread_start(control_thread_entry, "control");
}

void runtime_main(int argc, char** argv) {
    runtime_start(argc, argv);
    window_run(argc, argv);
}
