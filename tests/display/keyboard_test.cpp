#include <pthread.h>
#include <sched.h>
#include <sys/resource.h>
#include <time.h>

#include <atomic>
#include <chrono>
#include <latch>
#include <string>
#include <thread>

#include "core/shutdown.h"
#include "core/statements.h"
#include "core/timing.h"
#include "core/traps.h"
#include "display/display_control.h"
#include "display/frames.h"
#include "display/keyboard_fixture.h"
#include "display/program_sleep.h"
#include "display/window.h"

namespace {

std::string text_of(const string_descriptor* s) {
    return std::string(reinterpret_cast<const char*>(s->text), static_cast<size_t>(s->length));
}

using codes = std::vector<int32_t>;

TEST_F(keyboard_test, ShiftAGoesToEveryQueue) {
    key_down_code(100304);
    key_down_char('A');
    EXPECT_EQ(ring(), (codes{100304, 65}));
    EXPECT_EQ(scans(), (codes{42, 30}));
    EXPECT_EQ(bios(), (codes{30 * 256 + 'A'}));
    EXPECT_EQ(dos_memory[0x417], 0x02);  // Left Shift held
}

TEST_F(keyboard_test, F1PressAndRelease) {
    key_down_code(0x3B00);
    key_up_code(0x3B00);
    EXPECT_EQ(ring(), (codes{0x3B00, -0x3B00}));
    EXPECT_EQ(bios(), (codes{0x3B00}));
    EXPECT_EQ(scans(), (codes{59, 187}));
}

TEST_F(keyboard_test, KeypadSevenByNumLock) {
    key_down_code(100263);
    EXPECT_EQ(key_is_down(55), 1);
    key_up_code(100263);
    EXPECT_EQ(key_is_down(55), 0);
    EXPECT_EQ(ring(), (codes{55, -55}));
    EXPECT_EQ(bios(), (codes{71 * 256 + '7'}));
    key_down_code(200007);
    EXPECT_EQ(key_is_down(0x4700), 1);
    EXPECT_EQ(ring(), (codes{0x4700}));
    EXPECT_EQ(bios(), (codes{0x4700}));
}

TEST_F(keyboard_test, HeldKeyAliases) {
    struct alias_case {
        int32_t held, asked;
    };
    const alias_case cases[] = {{100256, '0'}, {100265, '9'}, {100266, '.'}, {100267, '/'}, {100268, '*'},
                                {100269, '-'}, {100270, '+'}, {100271, 13},  {200000, 0x5200}, {200001, 0x4F00},
                                {200002, 0x5000}, {200003, 0x5100}, {200004, 0x4B00}, {200005, 0x4C00},
                                {200006, 0x4D00}, {200007, 0x4700}, {200008, 0x4800}, {200009, 0x4900},
                                {200010, 0x5300}};
    for (const alias_case& c : cases) {
        keyboard_reset();
        held_key_add(c.held);
        EXPECT_EQ(key_is_down(c.asked), 1) << c.asked;
        EXPECT_EQ(key_is_down(c.held), 1);
        held_key_remove(c.held);
        EXPECT_EQ(key_is_down(c.asked), 0);
    }
    // Keypad minus and plus have no grey twin; the alias codes themselves have no alias.
    held_key_add(100269);
    EXPECT_EQ(key_is_down(0x4A00), 0);
    held_key_add(0x4700);
    EXPECT_EQ(key_is_down(200007), 0);
}

TEST_F(keyboard_test, KeyDownQueryRejectsCodesBelowOne) {
    held_key_add(65);
    EXPECT_EQ(key_down_query(65), -1);
    EXPECT_EQ(key_down_query(66), 0);
    EXPECT_EQ(key_down_query(0), 0);
    EXPECT_EQ(error_number.load(), 5);
}

TEST_F(keyboard_test, ReleaseAfterShiftWasReleasedLeavesNoKeyHeld) {
    key_down_code(100304);
    key_down_char('A');
    key_up_code(100304);
    key_up_char('a');  // the window system reports the release without Shift
    EXPECT_EQ(key_is_down('A'), 0);
    EXPECT_EQ(key_is_down('a'), 0);
    EXPECT_EQ(ring(), (codes{100304, 65, -100304, -65}));
    EXPECT_EQ(scans(), (codes{42, 30, 170, 158}));

    // The same with Shift symbols: '!' pressed, '1' released.
    key_down_code(100303);
    key_down_char('!');
    key_up_code(100303);
    key_up_char('1');
    EXPECT_EQ(key_is_down('!'), 0);
    EXPECT_EQ(ring(), (codes{100303, '!', -100303, -'!'}));
}

TEST_F(keyboard_test, ReleaseAfterAltWasReleasedLeavesNoKeyHeld) {
    key_down_code(100308);
    key_down_char('x');
    key_up_code(100308);
    key_up_char('x');  // reported after Alt went up
    EXPECT_EQ(key_is_down('x'), 0);
    EXPECT_EQ(ring(), (codes{100308, 'x', -100308, -'x'}));
}

TEST_F(keyboard_test, PauseThenAKeyOnlyEndsThePause) {
    key_down_code(100019);
    EXPECT_EQ(pause_flag.load() & 1, 1);
    EXPECT_EQ(event_pending.load(), 1);
    key_up_code(100019);
    drain();
    key_down_char('x');
    EXPECT_EQ(pause_flag.load() & 1, 0);
    EXPECT_TRUE(ring().empty());
    EXPECT_TRUE(bios().empty());
    key_up_char('x');
    EXPECT_EQ(ring(), (codes{-'x'}));
    // Ctrl+Num Lock pauses too.
    key_down_code(100306);
    key_down_code(100300);
    EXPECT_EQ(pause_flag.load() & 1, 1);
}

TEST_F(keyboard_test, CtrlBreakStopsOrAsksTheProgram) {
    key_down_code(100318);
    EXPECT_EQ(stop_request.load(), 1);
    key_up_code(100318);
    EXPECT_EQ(ring(), (codes{-100318}));
    stop_request = 0;

    key_down_code(100306);
    key_down_code(100302);  // Ctrl+Scroll Lock
    EXPECT_EQ(stop_request.load(), 1);
    stop_request = 0;
    key_down_code(100296);
    EXPECT_EQ(stop_request.load(), 1);
    stop_request = 0;

    close_handled_by_program = 1;
    close_request_bits = 0;
    key_down_code(100318);
    EXPECT_EQ(stop_request.load(), 0);
    EXPECT_EQ(close_request_bits.load(), 2);
    close_handled_by_program = 0;
    close_request_bits = 0;
}

TEST_F(keyboard_test, AltEnterStepsThroughTheFullScreenSettings) {
    // Each press as the renderer applies it: (mode, smooth) after presses 1-6.
    const std::pair<int, int> steps[] = {{1, 0}, {1, 1}, {2, 0}, {2, 1}, {0, 1}, {1, 0}};
    key_down_code(100308);
    for (const auto& [mode, smooth] : steps) {
        frame_rebuild_forced = 0;
        key_down_char(13);
        key_up_char(13);
        if (fullscreen_request.load() != -1) {
            fullscreen_mode = fullscreen_request.load();
            fullscreen_request = -1;
        }
        EXPECT_EQ(fullscreen_mode.load(), mode);
        EXPECT_EQ(fullscreen_smooth.load(), smooth);
        EXPECT_EQ(frame_rebuild_forced.load(), 1);
    }
    EXPECT_TRUE(bios().empty());
}

TEST_F(keyboard_test, TheSixteenthUnreadKeyIsDroppedFromTheBiosBufferOnly) {
    for (int i = 0; i < 16; ++i) key_down_char('a' + i);
    codes words = bios();
    ASSERT_EQ(words.size(), 15u);
    EXPECT_EQ(words.back() & 0xFF, 'a' + 14);
    EXPECT_EQ(ring().size(), 16u);
}

TEST_F(keyboard_test, TheKeyHitRingKeepsTheNewest8191Codes) {
    for (int i = 1; i <= 9000; ++i) key_down_code(0x100 * (1 + i % 200) + 0);
    codes all = ring();
    ASSERT_EQ(all.size(), 8191u);
    EXPECT_EQ(all.back(), 0x100 * (1 + 9000 % 200));
    EXPECT_EQ(all.front(), 0x100 * (1 + (9000 - 8190) % 200));
}

TEST_F(keyboard_test, ScrollLockKeyTogglesOncePerPress) {
    key_down_code(100302);
    EXPECT_EQ(key_is_down(200011), 1);
    key_down_code(100302);  // auto-repeat
    EXPECT_EQ(key_is_down(200011), 1);
    key_up_code(100302);
    key_down_code(100302);
    EXPECT_EQ(key_is_down(200011), 0);
    EXPECT_EQ(scans(), (codes{70, 70 + 128, 70}));
}

TEST_F(keyboard_test, CodeZeroStandsAs200013) {
    key_down_code(0);
    EXPECT_EQ(key_is_down(200013), 1);
    EXPECT_EQ(ring(), (codes{200013}));
    string_descriptor* s = bios_key_buffer_read();
    EXPECT_EQ(text_of(s), std::string(1, '\0'));
    key_up_code(0);
    EXPECT_EQ(key_is_down(200013), 0);
    EXPECT_EQ(ring(), (codes{-200013}));
}

TEST_F(keyboard_test, BiosReadGivesCharactersOrZeroAndScan) {
    key_down_char('q');
    key_down_code(0x4800);
    key_down_char(200);  // a character without a key: (200, 0)
    EXPECT_EQ(text_of(bios_key_buffer_read()), "q");
    EXPECT_EQ(text_of(bios_key_buffer_read()), std::string("\0\x48", 2));
    EXPECT_EQ(text_of(bios_key_buffer_read()), "\xC8");
    EXPECT_EQ(text_of(bios_key_buffer_read()), "");
    // The ring wraps from 60 back to 30.
    for (int i = 0; i < 40; ++i) {
        key_down_char('0' + i % 10);
        EXPECT_EQ(text_of(bios_key_buffer_read()), std::string(1, static_cast<char>('0' + i % 10)));
    }
    uint8_t head = dos_memory[0x41A];
    EXPECT_TRUE(head >= 30 && head <= 60 && head % 2 == 0);
}

TEST_F(keyboard_test, BiosReadTouchesNothingWhileAnErrorIsPending) {
    key_down_char('z');
    error_number = 5;
    EXPECT_EQ(bios_key_buffer_read()->length, 0);
    error_number = 0;
    EXPECT_EQ(text_of(bios_key_buffer_read()), "z");
}

TEST_F(keyboard_test, BiosFlagBytesFollowTheHeldKeys) {
    struct flag_case {
        int32_t code;
        uint32_t address;
        uint8_t bits;
    };
    const flag_case cases[] = {
        {100303, 0x417, 0x01}, {100304, 0x417, 0x02}, {100305, 0x417, 0x04}, {100306, 0x417, 0x04},
        {100307, 0x417, 0x08}, {100308, 0x417, 0x08}, {200011, 0x417, 0x10}, {100300, 0x417, 0x20},
        {100301, 0x417, 0x40}, {200012, 0x417, 0x80}, {100306, 0x418, 0x01}, {100308, 0x418, 0x02},
        {100317, 0x418, 0x04}, {100019, 0x418, 0x08}, {100302, 0x418, 0x10}, {0x5200, 0x418, 0x80},
        {200000, 0x418, 0x80}, {100305, 0x496, 0x11}, {100307, 0x496, 0x12},
    };
    for (const flag_case& c : cases) {
        keyboard_reset();
        held_key_add(c.code);
        bios_key_flags_update();
        EXPECT_EQ(dos_memory[c.address], c.bits) << c.code;
    }
    keyboard_reset();
    bios_key_flags_update();
    EXPECT_EQ(dos_memory[0x417], 0);
    EXPECT_EQ(dos_memory[0x418], 0);
    EXPECT_EQ(dos_memory[0x496], 0x10);
}

TEST_F(keyboard_test, ScanCodeQueueDropsRepeatsAndKeepsTheNewest256) {
    scancode_queue_init();
    EXPECT_EQ(scancode_queue_take(), 0x81);
    scancode_queue_push_make(30);
    scancode_queue_push_make(30);
    scancode_queue_push_break(30);
    scancode_queue_push_break(30);
    EXPECT_EQ(scans(), (codes{30, 158}));
    EXPECT_EQ(scancode_queue_take(), 158);  // empty: the byte taken last again
    for (int i = 0; i < 300; ++i) scancode_queue_push_make(1 + i % 100);
    codes bytes = scans();
    ASSERT_EQ(bytes.size(), 256u);
    EXPECT_EQ(bytes.front(), 1 + 44 % 100);
    EXPECT_EQ(bytes.back(), 1 + 299 % 100);
}

TEST_F(keyboard_test, HeldKeysAreListedOnceAndTaggedWhenAdded) {
    key_down_char('k');
    key_down_char('k');
    key_up_char('k');
    EXPECT_EQ(key_is_down('k'), 0);
    // A tagged lock key is released by its tag.
    static platform_key_states states;
    states = {};
    states.caps_lock = true;
    lock_key_source_set([] { return states; });
    keyboard_lock_keys_sync();
    EXPECT_EQ(key_is_down(100301), 1);
    held_key_release_by_tag(300);
    EXPECT_EQ(key_is_down(100301), 1);
    held_key_release_by_tag(301);
    EXPECT_EQ(key_is_down(100301), 0);
}

TEST_F(keyboard_test, LockKeysFollowTheKeyboard) {
    static platform_key_states states;
    states = {};
    lock_key_source_set([] { return states; });
    states.caps_lock = true;
    keyboard_lock_keys_sync();
    EXPECT_EQ(key_is_down(100301), 1);
    EXPECT_EQ(dos_memory[0x417] & 0x40, 0x40);
    states.num_lock = true;
    keyboard_raw_key(70, 1);  // Scroll Lock pressed: the keyboard keeps that toggle itself
    keyboard_raw_key(70, 1);  // held: the press repeats
    keyboard_raw_key(70, 0);
    keyboard_lock_keys_sync();
    EXPECT_EQ(key_is_down(100300), 1);
    EXPECT_EQ(key_is_down(200011), 1);
    EXPECT_EQ(dos_memory[0x417], 0x70);
    states.caps_lock = false;
    keyboard_lock_keys_sync();
    EXPECT_EQ(key_is_down(100301), 0);
    EXPECT_EQ(ring(), (codes{100301, 100300, -100301}));
    EXPECT_EQ(dos_memory[0x417], 0x30);
}

TEST_F(keyboard_test, StartUpPressesTheHeldKeysAndEmptiesTheRings) {
    static platform_key_states states;
    states = {};
    states.left_shift = true;
    states.right_alt = true;
    states.num_lock = true;
    lock_key_source_set([] { return states; });
    lock_keys_read();
    EXPECT_EQ(key_is_down(100304), 1);
    EXPECT_EQ(key_is_down(100307), 1);
    EXPECT_EQ(key_is_down(100300), 1);
    EXPECT_EQ(dos_memory[0x417], 0x2A);
    EXPECT_EQ(dos_memory[0x496], 0x12);
    key_rings_reset();
    EXPECT_TRUE(ring().empty());
    EXPECT_EQ(dos_memory[0x41A], 30);
    EXPECT_EQ(dos_memory[0x41C], 30);
    held_key_release_by_tag(304);
    EXPECT_EQ(key_is_down(100304), 0);
}

TEST_F(keyboard_test, UnicodeKeysMapThroughTheCodePage) {
    key_down_unicode('w');
    key_down_unicode(0xFF21);  // full-width A
    key_down_unicode(0x3000);  // ideographic space
    key_down_unicode(0x263A);  // the smiling face of code 1
    key_down_unicode(0x4E2D);  // no 8-bit code
    EXPECT_EQ(ring(), (codes{'w', 'A', ' ', 1, 0x4E2D | 0x40000000}));
    key_up_unicode(0x4E2D);
    EXPECT_EQ(ring(), (codes{-(0x4E2D | 0x40000000)}));
}

TEST_F(keyboard_test, AltGrMakesACharacterOnlyFromUnicode) {
    key_down_code(100306);
    key_down_code(100307);
    key_down_unicode('q');  // AltGr+q: the character itself
    key_down_char('q');     // Ctrl+Alt+q: an Alt key
    EXPECT_EQ(bios(), (codes{0x1071, 0x1000}));
}

// --- Key traps and soft keys ---------------------------------------------------------------------

class key_traps : public keyboard_test {
protected:
    void SetUp() override {
        keyboard_test::SetUp();
        traps_tables_make();
        key_trap_defaults_set();
    }
    void TearDown() override {
        traps_tables_make();
        keyboard_test::TearDown();
    }
    // A user-defined key trap on a scan code and shift states, switched on.
    static void user_key_trap_on(int32_t n, uint8_t scan, uint8_t shift_mask) {
        key_trap_table[n].trap_scan_code = scan;
        key_trap_table[n].shift_mask = shift_mask;
        key_trap_set(n, 9, 0);
        key_trap_state(n, trap_action_on);
    }
};

TEST_F(key_traps, AnOnTrapTakesThePressAndItsRelease) {
    key_trap_set(1, 7, 0);
    key_trap_state(1, trap_action_on);
    event_pending = 0;
    key_down_code(0x3B00);
    key_down_code(0x3B00);  // auto-repeat
    key_up_code(0x3B00);
    EXPECT_EQ(key_trap_table[1].pending.load(), 2);
    EXPECT_EQ(event_pending.load(), 1);
    EXPECT_TRUE(ring().empty());
    EXPECT_TRUE(bios().empty());
    EXPECT_TRUE(scans().empty());
    // One release ends what the repeated presses swallowed: with the trap off the key is a key again.
    key_trap_state(1, trap_action_off);
    key_down_code(0x3B00);
    key_up_code(0x3B00);
    EXPECT_EQ(ring(), (codes{0x3B00, -0x3B00}));
}

TEST_F(key_traps, AStoppedTrapKeepsOneEventAndAnOffTrapNone) {
    key_trap_set(2, 7, 0);
    key_trap_state(2, trap_action_stop);
    key_down_code(0x3C00);
    key_down_code(0x3C00);
    EXPECT_EQ(key_trap_table[2].pending.load(), 1);
    key_trap_state(2, trap_action_off);
    key_down_code(0x3C00);
    EXPECT_EQ(key_trap_table[2].pending.load(), 0);
    EXPECT_EQ(ring(), (codes{0x3C00}));
}

TEST_F(key_traps, TheKeypadFormOfACursorKeyFiresItsTrap) {
    key_trap_set(11, 7, 0);
    key_trap_state(11, trap_action_on);
    key_down_code(100264);  // keypad 8 with Num Lock on
    key_down_code(0x4800);
    EXPECT_EQ(key_trap_table[11].pending.load(), 2);
    EXPECT_TRUE(ring().empty());
}

TEST_F(key_traps, UserKeysMatchScanCodeAndShiftStates) {
    struct trap_case {
        uint8_t mask;
        std::vector<int32_t> held;
        int32_t key;
        bool fires;
    };
    const trap_case cases[] = {
        {0x00, {}, 'a', true},
        {0x00, {100304}, 'A', false},         // Shift held but not asked for
        {0x01, {100304}, 'A', true},
        {0x02, {100303}, 'A', true},
        {0x04, {100306}, 'a', true},
        {0x04, {}, 'a', false},
        {0x08, {100308}, 'a', true},
        {0x20, {}, 'a', false},               // Num Lock must be on
        {0x20, {100300}, 'a', true},
        {0x40, {100301}, 'a', true},
        {0x80, {}, 'a', false},               // extended keys only
        {0x80, {}, 0x4B00, false},            // scan 30 asked, Left is 75
    };
    for (const trap_case& c : cases) {
        keyboard_reset();
        traps_tables_make();
        user_key_trap_on(15, 30, c.mask);
        for (int32_t h : c.held) held_key_add(h);
        key_down_code(c.key);
        EXPECT_EQ(key_trap_table[15].pending.load() == 1, c.fires) << int(c.mask) << " " << c.key;
    }
    // A Shift key itself does not need its own Shift state: trap on Left Shift (scan 42).
    keyboard_reset();
    traps_tables_make();
    user_key_trap_on(16, 42, 0);
    key_down_code(100304);
    EXPECT_EQ(key_trap_table[16].pending.load(), 1);
    key_up_code(100304);
    // An extended key needs bit 0x80: Right Ctrl (scan 29, extended).
    user_key_trap_on(17, 29, 0x80);
    key_down_code(100306);
    EXPECT_EQ(key_trap_table[17].pending.load(), 0);
    key_down_code(100305);
    EXPECT_EQ(key_trap_table[17].pending.load(), 1);
}

TEST_F(key_traps, ASoftKeyTypesItsTextAndNothingOfItself) {
    static const char text[] = "ok";
    key_trap_table[2].key_text = string_from_literal(text, 2);
    key_down_code(0x3C00);
    key_up_code(0x3C00);
    EXPECT_EQ(ring(), (codes{'o', -'o', 'k', -'k'}));
    EXPECT_EQ(bios(), (codes{24 * 256 + 'o', 37 * 256 + 'k'}));
    EXPECT_EQ(scans(), (codes{24, 152, 37, 165}));
    key_trap_table[2].key_text = nullptr;
}

// --- Threads ---------------------------------------------------------------------------------------

using KeyboardThreaded = keyboard_test;

TEST_F(KeyboardThreaded, KeysWhileLockKeysSyncAndProgramReads) {
    static std::atomic<bool> caps{false};
    lock_key_source_set([] {
        platform_key_states s{};
        s.caps_lock = caps.load();
        return s;
    });
    constexpr int presses = 3000;
    std::atomic<bool> done{false};
    std::thread main_thread([&] {
        for (int i = 0; i < presses; ++i) {
            key_down_char('a' + i % 26);
            key_up_char('a' + i % 26);
        }
        done = true;
    });
    std::thread control_thread([&] {
        while (!done) {
            caps = !caps;
            keyboard_lock_keys_sync();
            std::this_thread::sleep_for(std::chrono::microseconds(200));
        }
    });
    int letters_down = 0, letters_up = 0;
    auto count = [&](int32_t c) {
        if (c >= 'a' && c <= 'z') ++letters_down;
        if (c <= -'a' && c >= -'z') ++letters_up;
    };
    while (!done) {
        count(key_hit_pop());
        bios_key_buffer_read();
        string_temps_release(0, 0);
        key_is_down('a');
    }
    main_thread.join();
    control_thread.join();
    while (int32_t c = key_hit_pop()) count(c);
    EXPECT_EQ(letters_down, presses);
    EXPECT_EQ(letters_up, presses);
    for (int c = 'a'; c <= 'z'; ++c) EXPECT_EQ(key_is_down(c), 0);
}

// --- What a read gives away ----------------------------------------------------------------------

// Voluntary switches count the thread's sleeps; involuntary ones its yields while another thread is
// ready on its core (and preemptions, a few per time slice of its processor time).
struct thread_switches {
    long voluntary, involuntary;
};

thread_switches thread_switches_now() {
    rusage usage{};
    getrusage(RUSAGE_THREAD, &usage);
    return {usage.ru_nvcsw, usage.ru_nivcsw};
}

// Spins on the processor time of this thread, so that the work lasts as long however loaded the
// machine is.
void thread_work(std::chrono::nanoseconds length) {
    auto now = [] {
        timespec t{};
        clock_gettime(CLOCK_THREAD_CPUTIME_ID, &t);
        return std::chrono::seconds(t.tv_sec) + std::chrono::nanoseconds(t.tv_nsec);
    };
    const auto end = now() + length;
    while (now() < end) {
    }
}

// This thread and a spinning rival share one core while it lives, so that a yield always finds
// someone to give the core to; the thread's own affinity comes back afterwards.
class core_rival {
public:
    core_rival() {
        pthread_getaffinity_np(pthread_self(), sizeof saved_, &saved_);
        cpu_set_t one;
        CPU_ZERO(&one);
        CPU_SET(sched_getcpu(), &one);
        EXPECT_EQ(pthread_setaffinity_np(pthread_self(), sizeof one, &one), 0);
        rival_ = std::thread([this, one] {
            pthread_setaffinity_np(pthread_self(), sizeof one, &one);
            ready_.count_down();
            while (running_.load(std::memory_order_relaxed)) {
            }
        });
        ready_.wait();
    }
    ~core_rival() {
        running_ = false;
        rival_.join();
        pthread_setaffinity_np(pthread_self(), sizeof saved_, &saved_);
    }

private:
    cpu_set_t saved_{};
    std::atomic<bool> running_{true};
    std::latch ready_{1};
    std::thread rival_;
};

// A loop that works between its polls (a game loop) has every read at once: the read neither sleeps
// nor yields its core to the rival waiting for it.
TEST_F(KeyboardThreaded, APollBetweenOtherWorkIsNotSlowed) {
    constexpr int reads = 200;
    constexpr auto work = std::chrono::microseconds(100);  // more than a tight poll's gap
    core_rival rival;
    const thread_switches before = thread_switches_now();
    for (int i = 0; i < reads; ++i) {
        EXPECT_EQ(bios_key_buffer_read()->length, 0);
        string_temps_release(0, 0);
        thread_work(work);
    }
    const thread_switches after = thread_switches_now();
    EXPECT_EQ(bios_key_read_sleeps().count, 0u);
    // A sleep or a yield in each read would switch about once a read; 20 ms of work, a handful.
    EXPECT_LT(after.voluntary - before.voluntary, reads / 4);
    EXPECT_LT(after.involuntary - before.involuntary, reads / 4);
}

// A loop that polls for a key until the clock reaches a time sees the clock move in its own steps:
// its reads sleep at most a millisecond each, not a growing quarter second.
TEST_F(keyboard_test, APollThatWatchesTheClockSleepsShortly) {
    for (int i = 0; i < 40; ++i) {
        EXPECT_EQ(bios_key_buffer_read()->length, 0);
        string_temps_release(0, 0);
        timer_seconds(0, 0);
    }
    const bios_read_sleeps sleeps = bios_key_read_sleeps();
    EXPECT_GT(sleeps.count, 1u);
    EXPECT_EQ(sleeps.longest_limit_ms, 1);
}

// A tight poll sleeps between its looks instead of spinning, and a key typed while it sleeps ends
// the sleep: the typist types during the eighth sleep, whose limit is 128 ms.
TEST_F(KeyboardThreaded, ATightPollWakesAtOnceForAKey) {
    constexpr uint64_t sleeps_before_typing = 7;
    constexpr int polls_most = 200;
    const uint64_t token = program_idle_token();
    std::atomic<bool> polling{true}, typed_while_asleep{false};
    std::thread typist([&] {
        const uint64_t asleep = program_sleep_awaited(token, sleeps_before_typing, &polling);
        if (asleep == 0) return;
        key_down_char('y');
        typed_while_asleep = program_idle_token() == asleep;  // the sleep had not ended meanwhile
    });
    string_descriptor* s;
    int polls = 0;
    while ((s = bios_key_buffer_read())->length == 0 && ++polls < polls_most) {
    }
    polling = false;
    typist.join();
    EXPECT_EQ(text_of(s), "y");
    EXPECT_LT(polls, polls_most);
    // Only a typist held up until the sleep's end leaves the wake unproven.
    if (typed_while_asleep) {
        EXPECT_EQ(bios_key_read_sleeps().woken, 1u);
    }
    string_temps_release(0, 0);
}

}  // namespace
