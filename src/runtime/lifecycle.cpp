#include "runtime/lifecycle.h"

#include <poll.h>
#include <sys/types.h>
#include <unistd.h>

#include <cstdio>

#include "core/errors.h"
#include "core/random.h"
#include "core/shutdown.h"
#include "core/strings.h"
#include "core/timing.h"
#include "core/traps.h"
#include "display/frames.h"
#include "display/keyboard.h"
#include "display/window.h"
#include "files/environment.h"
#include "platform/process.h"
#include "runtime/startup.h"
#include "screen/image_pool.h"
#include "screen/modes.h"
#include "screen/palette.h"
#include "screen/text_output.h"
#include "screen/text_view.h"
#include "screen/width.h"

namespace {

void files_close_all() {
    if (auto close = runtime_shutdown_seams.files_close_all) close();
}

// The prompt on the bottom row of the displayed image, in a one-row text view that a newline blanks
// first. Nothing when no image is displayed.
void end_prompt_show() {
    if (!display_image.load()) return;
    dest_image_select(display_image_handle());
    int32_t bottom = image_text_grid(dest_image).rows;
    if (bottom < 1) return;
    text_view_set(bottom, bottom, 1);
    print_string(string_empty, 1);
    uint32_t mark = string_temp_top();
    print_string(string_from_cstring("Press any key to continue"), 0);
    string_temps_release(mark, 0);
}

// Takes one key of the BIOS keyboard buffer; false when it was empty.
bool bios_key_take() {
    uint32_t mark = string_temp_top();
    bool got = bios_key_buffer_read()->length > 0;
    string_temps_release(mark, 0);
    return got;
}

// One character of standard input, or its end; false after 100 ms without either.
bool console_char_take() {
    pollfd input{STDIN_FILENO, POLLIN, 0};
    if (poll(&input, 1, 100) <= 0) return false;
    // Any character, the end of the input or a read error ends the wait.
    char c;
    [[maybe_unused]] ssize_t n = read(STDIN_FILENO, &c, 1);
    return true;
}

// Starts argv[0] (searched on the path) with the words as its arguments; true when it runs.
bool program_spawn(const std::vector<std::string>& words) {
    // The program's environment table, with its own changes.
    std::vector<char*> envp = environment_envp();
    return process_spawn(words, envp.data(), {.directory = {}, .stdin_null = false, .search_path = true}) > 0;
}

[[noreturn]] void program_stop() {
    stop_request.store(1);
    program_thread_park();
}

}  // namespace

void program_end() {
    files_close_all();
    close_handled_by_program.store(0);
    if (!window_hidden.load()) {
        end_prompt_show();
        // Keys typed before the end do not answer the prompt.
        while (bios_key_take()) sleep_ms(0);
        // Frames go on being built while the prompt waits, even if the program had turned them off.
        autodisplay_mode.store(1);
        do bios_key_wait();
        while (!bios_key_take());
    } else if (console_option) {
        std::fputs("\nPress enter to continue", stdout);
        std::fflush(stdout);
        program_wait_until(console_char_take, 0);
    }
    program_stop();
}

void program_end_exit() { process_exit(platform::exit_normal); }

std::vector<std::string> command_line_words(const std::string& line) {
    std::vector<std::string> words;
    std::string word;
    bool in_word = false, quoted = false;
    for (char c : line) {
        if (c == '"') {
            quoted = !quoted;
            in_word = true;
        } else if ((c == ' ' || c == '\t') && !quoted) {
            if (in_word) words.push_back(word);
            word.clear();
            in_word = false;
        } else {
            word += c == '\\' ? '/' : c;
            in_word = true;
        }
    }
    if (in_word) words.push_back(word);
    return words;
}

void program_run_file(string_descriptor* command) {
    if (error_pending()) return;
    std::string line(reinterpret_cast<const char*>(command->text), static_cast<size_t>(command->length));
    line.resize(line.find('\0') == std::string::npos ? line.size() : line.find('\0'));
    // No shell in between: a program that cannot be started is known here and reported.
    std::vector<std::string> words = command_line_words(line);
    if (words.empty() || !program_spawn(words)) return error_raise(error_file_not_found);
    program_stop();
}

int32_t close_request_take() {
    close_handled_by_program.store(1);
    // One exchange: a close pressed meanwhile is either returned now or seen later, never lost.
    return close_request_bits.exchange(0);
}

void program_restart_reset() {
    for (int32_t n = 1; n < key_trap_count; ++n) {
        key_trap& t = key_trap_table[n];
        t.handler.store(0);
        t.state.store(trap_off);
        t.pending.store(0);
    }
    key_dispatch_busy = 0;
    screen_mode_set(0, 0, 0, 0, 0, 13);
    screen_width_set(width_target_screen, 80, 25, width_columns_given | width_rows_given);
    if (image_record* dest = dest_image) {
        palette_load_default(dest);
        dest->fore_color = 7;
        dest->back_color = 0;
    }
    random_seed_reset();
}
