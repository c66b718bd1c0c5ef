// Synthesised input against a recording backend: the keystrokes each kind of byte gives, and the
// click's move and button events.
#include "display/synth_input.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "core/strings.h"

namespace {

using platform::synth_key;

std::vector<std::string> sent;

std::string key_name(synth_key k) {
    static const char* names[] = {"Tab", "BackSpace", "Return", "Ctrl", "Shift", "Left",  "Right", "Up",
                                  "Down", "Insert", "Home", "Delete", "End", "PageDown", "PageUp"};
    return names[static_cast<int>(k)];
}

// Letters, digits and the space have keys, capitals with Shift; '~' has none on this keyboard.
platform::synth_char_key lookup(uint8_t c) {
    if (c >= 'A' && c <= 'Z') return {true, true};
    if ((c >= 'a' && c <= 'z') || (c >= '0' && c <= '9') || c == ' ') return {true, false};
    return {};
}

const synth_backend recorder{
    [](int32_t x, int32_t y) { sent.push_back("move " + std::to_string(x) + "," + std::to_string(y)); },
    [](bool press) { sent.push_back(press ? "left down" : "left up"); },
    [](synth_key k, bool press) { sent.push_back(key_name(k) + (press ? " down" : " up")); },
    lookup,
    [](uint8_t c, bool press) { sent.push_back(std::string(1, char(c)) + (press ? " down" : " up")); },
};

struct SynthInput : ::testing::Test {
    void SetUp() override {
        sent.clear();
        synth_backend_set(&recorder);
    }
    void TearDown() override { synth_backend_set(nullptr); }
    static std::vector<std::string> typed(const std::string& text) {
        sent.clear();
        string_descriptor s{};
        s.text = reinterpret_cast<uint8_t*>(const_cast<char*>(text.data()));
        s.length = int32_t(text.size());
        input_synth_type(&s);
        return sent;
    }
};

TEST_F(SynthInput, KeystrokesOfEachKindOfByte) {
    using strokes = std::vector<std::string>;
    const struct {
        const char* name;
        std::string text;
        strokes want;
    } cases[] = {
        {"aB", "aB", {"a down", "a up", "Shift down", "B down", "B up", "Shift up"}},
        {"Up", std::string("\0\x48", 2), {"Up down", "Up up"}},
        {"Ctrl+C", "\x03", {"Ctrl down", "C down", "C up", "Ctrl up"}},
        {"127", "\x7f", {}},
        {"no key", "~", {}},
        {"final 0", std::string("x\0", 2), {"x down", "x up"}},
        {"Tab, BackSpace, Return",
         "\t\b\r",
         {"Tab down", "Tab up", "BackSpace down", "BackSpace up", "Return down", "Return up"}},
        {"Shift+Tab", std::string("\0\x0f", 2), {"Shift down", "Tab down", "Tab up", "Shift up"}},
        {"scan without key", std::string("\0\x3b" "1", 3), {"1 down", "1 up"}},
        {"page keys", std::string("\0\x51\0\x49", 4), {"PageDown down", "PageDown up", "PageUp down", "PageUp up"}},
        {"27-31 and above 127", "\x1b\x1f\x80\xff", {}},
    };
    for (const auto& c : cases) EXPECT_EQ(typed(c.text), c.want) << c.name;
}

TEST_F(SynthInput, AClickMovesThenPressesAndReleasesTheLeftButton) {
    input_synth_click(960, 540);
    EXPECT_EQ(sent, (std::vector<std::string>{"move 960,540", "left down", "left up"}));
}

}  // namespace
