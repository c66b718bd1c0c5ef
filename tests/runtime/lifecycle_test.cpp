#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "core/errors.h"
#include "core/memory.h"
#include "core/runtime_fixture.h"
#include "core/shutdown.h"
#include "core/strings.h"
#include "core/traps.h"
#include "display/frames.h"
#include "display/keyboard.h"
#include "display/window.h"
#include "runtime/lifecycle.h"
#include "screen/fonts.h"
#include "screen/image_pool.h"
#include "screen/modes.h"
#include "screen/palette.h"

namespace {

TEST(CommandLineWords, BlanksSeparateAndQuotesGroup) {
    struct row {
        const char* line;
        std::vector<std::string> words;
    };
    const row rows[] = {
        {"prog a b", {"prog", "a", "b"}},
        {"  prog \t a  ", {"prog", "a"}},
        {"\"my prog\" \"x y\"z", {"my prog", "x yz"}},
        {"C:\\dos\\prog.exe a\\b", {"C:/dos/prog.exe", "a/b"}},
        {"prog \"\"", {"prog", ""}},
        {"", {}},
        {"   ", {}},
    };
    for (const auto& r : rows) EXPECT_EQ(command_line_words(r.line), r.words) << r.line;
}

class Lifecycle : public ::testing::Test {
protected:
    void SetUp() override {
        close_request_bits = 0;
        close_handled_by_program = 0;
        closes = 0;
        runtime_shutdown_seams.files_close_all = [] { ++closes; };
        font_metrics_init();
        palettes_load();
        image_pool_reserve();
        dos_memory_clear();
        string_store_reset();
        string_segment_init();
        screen_pages_reset();
        screen_mode_set(0, 0, 0, 0, 0, 1);
        keyboard_reset();
        key_rings_reset();
    }
    void TearDown() override {
        screen_pages_reset();
        string_store_reset();
        image_pool_reserve();
        runtime_shutdown_seams = {};
        window_hidden = 0;
        close_request_bits = 0;
        close_handled_by_program = 0;
    }
    static inline int closes = 0;
    recorded_boxes boxes;
};

void run_file(const char* command) {
    uint32_t mark = string_temp_top();
    program_run_file(string_from_cstring(command));
    string_temps_release(mark, 0);
}

TEST_F(Lifecycle, RunningAMissingProgramIsError53AndGoesOn) {
    for (const char* command : {"/no/such/program --flag", "no-such-program-here", "", "   "}) {
        error_number = 0;
        run_file(command);
        EXPECT_EQ(error_number.load(), 53) << command;
        EXPECT_EQ(stop_request.load(), 0) << command;
    }
}

TEST_F(Lifecycle, RunningAProgramStopsThisOne) {
    for (const char* command : {"true", "\\bin\\true with arguments"}) {
        stop_request = 0;
        EXPECT_THROW(run_file(command), parked) << command;
        EXPECT_EQ(stop_request.load(), 1) << command;
        EXPECT_EQ(error_number.load(), 0) << command;
    }
}

TEST_F(Lifecycle, RunningWhileAnErrorIsPendingDoesNothing) {
    error_number = 7;
    run_file("true");
    EXPECT_EQ(stop_request.load(), 0);
    EXPECT_EQ(error_number.load(), 7);
}

TEST_F(Lifecycle, CloseRequestTakeHandsOverTheBits) {
    close_request_bits = 3;
    EXPECT_EQ(close_request_take(), 3);
    EXPECT_EQ(close_request_bits.load(), 0);
    EXPECT_EQ(close_handled_by_program.load(), 1);
    EXPECT_EQ(close_request_take(), 0);
}

TEST_F(Lifecycle, EndWithTheWindowHiddenStopsAtOnce) {
    window_hidden = 1;
    close_handled_by_program = 1;
    EXPECT_THROW(program_end(), parked);
    EXPECT_EQ(stop_request.load(), 1);
    EXPECT_EQ(closes, 1);
    EXPECT_EQ(close_handled_by_program.load(), 0);
}

void key_typed(int32_t c) {
    key_down_char(c);
    key_up_char(c);
}

// Keys typed by another thread, as the window's callbacks do: the first after a while, then one
// every while until the prompt has ended, so a loaded machine that empties the pending keys late
// still sees a key that answers the prompt.
class late_keys {
public:
    late_keys(int ms, std::atomic<bool>& typed)
        : typer_([this, ms, &typed] {
              std::unique_lock lock(mutex_);
              while (!ended_.wait_for(lock, std::chrono::milliseconds(ms), [this] { return done_; })) {
                  typed = true;
                  key_typed('d');
              }
          }) {}
    ~late_keys() {
        {
            std::lock_guard lock(mutex_);
            done_ = true;
        }
        ended_.notify_one();
        typer_.join();
    }

private:
    std::mutex mutex_;
    std::condition_variable ended_;
    bool done_ = false;
    std::thread typer_;
};

std::string text_row(const image_record& page, int32_t row) {
    std::string s;
    auto* cells = reinterpret_cast<const text_cell*>(page.pixels);
    for (int32_t c = 0; c < page.width; ++c) s += static_cast<char>(cells[(row - 1) * page.width + c].code);
    return s;
}

TEST_F(Lifecycle, EndPromptIgnoresKeysTypedBeforeAndWaitsForANewOne) {
    image_record& shown = *display_image.load();
    auto* cells = reinterpret_cast<text_cell*>(shown.pixels);
    for (int32_t c = 0; c < 80; ++c) cells[24 * 80 + c].code = 'x';  // to be blanked
    for (int32_t c : {'a', 'b', 'c'}) key_typed(c);
    autodisplay_mode = 0;
    std::atomic<bool> typed{false};
    bool ended_by_late_key = false;
    {
        late_keys keys(250, typed);
        try {
            program_end();
        } catch (const parked&) {
            ended_by_late_key = typed.load();
        }
    }
    EXPECT_TRUE(ended_by_late_key);  // the keys typed before the prompt did not end it
    EXPECT_EQ(text_row(shown, 25), "Press any key to continue" + std::string(55, ' '));
    EXPECT_EQ(autodisplay_mode.load(), 1);  // frames go on while it waits
    EXPECT_EQ(stop_request.load(), 1);
    EXPECT_EQ(closes, 1);
}

TEST_F(Lifecycle, EndPromptSitsOnTheBottomRow) {
    struct row {
        int32_t mode;
        int32_t bottom;
    };
    for (const row r : {row{0, 25}, row{9, 25}, row{12, 30}}) {  // 80 x 25, 640 x 350 and 640 x 480
        screen_mode_set(r.mode, 0, 0, 0, 0, 1);
        stop_request = 0;
        std::atomic<bool> typed{false};
        {
            late_keys keys(20, typed);
            EXPECT_THROW(program_end(), parked);
        }
        const image_record& shown = *display_image.load();
        EXPECT_EQ(dest_image, &shown) << r.mode;
        EXPECT_EQ(shown.cursor_row, r.bottom) << r.mode;
        EXPECT_EQ(shown.cursor_column, 26) << r.mode;
    }
}

TEST_F(Lifecycle, RestartClearsTheKeyTraps) {
    traps_tables_make();
    key_trap_defaults_set();
    key_trap_set(3, 5, 9);
    key_trap_state(3, trap_action_on);
    key_trap_fire(3);
    key_dispatch_busy = 1;
    program_restart_reset();
    for (int32_t n = 1; n < key_trap_count; ++n) {
        EXPECT_EQ(key_trap_table[n].handler.load(), 0) << n;
        EXPECT_EQ(key_trap_table[n].state.load(), trap_off) << n;
        EXPECT_EQ(key_trap_table[n].pending.load(), 0) << n;
    }
    EXPECT_EQ(key_trap_table[1].key_code.load(), 0x3B00);  // the keys themselves stay
    EXPECT_EQ(key_dispatch_busy, 0);
}

TEST_F(Lifecycle, RestartBringsBackTheTextScreenAndItsColours) {
    screen_mode_set(12, 0, 0, 0, 0, 1);
    dest_image->fore_color = 3;
    dest_image->back_color = 9;
    program_restart_reset();
    EXPECT_EQ(dest_image->mode, 0);
    EXPECT_EQ(dest_image->width, 80);
    EXPECT_EQ(dest_image->height, 25);
    EXPECT_EQ(dest_image->fore_color, 7);
    EXPECT_EQ(dest_image->back_color, 0u);
    EXPECT_EQ(error_number.load(), 0);
}

}  // namespace
