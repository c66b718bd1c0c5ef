#include <gtest/gtest.h>

#include "files/environment.h"
#include "files/file_fixture.h"

namespace {

class Environment : public file_test {
protected:
    void SetUp() override {
        file_test::SetUp();
        environment_reset();
    }
    int32_t set(std::string_view entry) { return env_set(text(entry)); }
    std::string get(std::string_view name) { return text_of(env_get(text(name))); }
};

TEST_F(Environment, SetAddsChangesAndRemovesAtTheEndOfTheNumberedList) {
    int32_t count = environment_count;
    EXPECT_EQ(set("LUMO_X=1"), count + 1);
    EXPECT_EQ(get("LUMO_X"), "1");
    EXPECT_EQ(text_of(env_get_nth(count)), "LUMO_X=1");
    EXPECT_EQ(text_of(env_get_nth(count + 1)), "");
    EXPECT_EQ(set("LUMO_X=two=2"), count + 1);
    EXPECT_EQ(get("LUMO_X"), "two=2");
    EXPECT_EQ(set("LUMO_X="), count);
    EXPECT_EQ(get("LUMO_X"), "");
    EXPECT_EQ(getenv("LUMO_X"), nullptr);  // the C library's environment is never written
    EXPECT_EQ(error_take(), 0);
}

TEST_F(Environment, MalformedEntriesAndNamesAreRefused) {
    int32_t count = environment_count;
    for (std::string_view bad : {std::string_view("LUMO_X"), std::string_view("=x"), std::string_view("A\0B=1", 5)}) {
        EXPECT_EQ(set(bad), count) << bad;
        EXPECT_EQ(error_take(), 5) << bad;
    }
    set("LUMO_Y=y");
    EXPECT_EQ(get("LUMO_Y"), "y");
    EXPECT_EQ(get("LUMO_Y=y"), "");
    EXPECT_EQ(get("LUMO_"), "");
    EXPECT_EQ(get(""), "");
    EXPECT_EQ(text_of(env_get_nth(0)), "");
    EXPECT_EQ(error_take(), 5);
    ::setenv("LUMO_LATER", "x", 1);  // a change behind the table's back changes nothing in it
    EXPECT_EQ(get("LUMO_LATER"), "");
    ::unsetenv("LUMO_LATER");
}

// Translated code hands names ending in a NUL byte; what follows the NUL is never read.
TEST_F(Environment, ANameEndsAtItsFirstNul) {
    set("LUMO_Y=y");
    const struct {
        std::string_view name;
        const char* want;
    } names[] = {
        {"LUMO_Y", "y"},
        {std::string_view("LUMO_Y\0", 7), "y"},
        {std::string_view("LUMO_Y\0=x", 9), "y"},
        {std::string_view("LUMO_Y\0LUMO_Z", 13), "y"},
        {std::string_view("LUMO\0_Y", 8), ""},
        {std::string_view("\0LUMO_Y", 7), ""},
        {std::string_view("\0", 1), ""},
    };
    for (const auto& n : names) EXPECT_EQ(get(n.name), n.want) << n.name;
    EXPECT_EQ(error_take(), 0);
}

TEST_F(Environment, CommandLineIsACopy) {
    startup_strings_make("a b c");
    string_descriptor* line = command_line_get();
    EXPECT_EQ(text_of(line), "a b c");
    EXPECT_NE(line, command_line_string);
}

TEST_F(Environment, ClipboardKeepsBytesAndAnswersUpToANul) {
    EXPECT_NE(clipboard_set(text("abc")), 0);
    EXPECT_EQ(text_of(clipboard_get()), "abc");
    clipboard_set(text(std::string_view("ab\0cd", 5)));
    EXPECT_EQ(text_of(clipboard_get()), "ab");
    std::string big(1 << 20, 'm');
    big[1000] = '\xe9';
    clipboard_set(text(big));
    EXPECT_EQ(text_of(clipboard_get()), big);
}

}  // namespace
