#include <gtest/gtest.h>

#include <climits>
#include <functional>
#include <string>

#include "core/string_functions.h"
#include "core/string_fixture.h"

namespace {

using StringFunctions = string_store_test;

// Starts, counts and lengths at the edges of the 32-bit range and around a short text.
std::vector<int32_t> edge_numbers() {
    std::vector<int32_t> v = {INT_MIN, INT_MIN + 1, INT_MAX - 1, INT_MAX};
    for (int32_t i = -8; i <= 9; ++i) v.push_back(i);
    return v;
}

// The bytes of text at 1-based positions lo..hi (inclusive), clipped to the text.
std::string window(const std::string& text, int64_t lo, int64_t hi) {
    lo = std::max<int64_t>(lo, 1);
    hi = std::min<int64_t>(hi, static_cast<int64_t>(text.size()));
    return lo <= hi ? text.substr(static_cast<size_t>(lo - 1), static_cast<size_t>(hi - lo + 1)) : "";
}

class StringParts : public string_store_test {
protected:
    // Runs a string function on an argument of each kind and checks the text and the contract: a
    // disposable temporary comes back itself; a whole text comes back as the argument itself when
    // whole_is_itself; otherwise the result is a new temporary, a temporary argument is released
    // and a variable is never changed.
    template <class F>
    void check_part(const std::string& text, const std::string& expected, F f, const std::string& what,
                    bool whole_is_itself = true) {
        for (string_kind kind : all_string_kinds) {
            string_descriptor* s = make(kind, text);
            string_descriptor* r = f(s);
            ASSERT_EQ(text_of(r), expected) << what << " kind " << int(kind);
            if (kind == string_kind::disposable || (whole_is_itself && expected.size() == text.size())) {
                EXPECT_EQ(r, s) << what << " kind " << int(kind);
            } else {
                EXPECT_NE(r, s) << what << " kind " << int(kind);
                EXPECT_EQ(r->temporary, 1) << what;
                EXPECT_EQ(s->temporary, 0) << what << " kind " << int(kind) << ": argument released";
            }
            EXPECT_EQ(string_store_verify(), "") << what;
            if (kind == string_kind::variable) {
                EXPECT_EQ(text_of(s), text) << what;
                if (r != s) string_free(s);
            }
        }
    }
};

TEST_F(StringParts, LeftRightAndMidAreWindowsClippedToTheText) {
    const std::string texts[] = {"", "a", "abcdef"};
    for (const std::string& text : texts) {
        auto len = static_cast<int64_t>(text.size());
        for (int32_t n : edge_numbers()) {
            std::string tag = "'" + text + "' n=" + std::to_string(n);
            check_part(text, window(text, 1, n), [n](string_descriptor* s) { return string_left(s, n); },
                       "left " + tag);
            check_part(text, window(text, len - std::max(n, 0) + 1, len),
                       [n](string_descriptor* s) { return string_right(s, n); }, "right " + tag);
            check_part(text, window(text, n, len),
                       [n](string_descriptor* s) { return string_mid(s, n, 0, 0); }, "mid " + tag);
            for (int32_t count : edge_numbers())
                check_part(text, window(text, n, int64_t(n) + count - 1),
                           [n, count](string_descriptor* s) { return string_mid(s, n, count, 1); },
                           "mid " + tag + " count=" + std::to_string(count));
            ASSERT_FALSE(HasFatalFailure());
            string_temps_release(1, 0);
        }
    }
}

TEST_F(StringParts, ExamplesOfParts) {
    struct row { const char* what; std::function<string_descriptor*(string_descriptor*)> f; const char* expected; };
    const row rows[] = {
        {"left 5 of abc", [](string_descriptor* s) { return string_left(s, 5); }, "abc"},
        {"left -1 of abc", [](string_descriptor* s) { return string_left(s, -1); }, ""},
        {"right 2", [](string_descriptor* s) { return string_right(s, 2); }, "bc"},
        {"mid from -1 count 4", [](string_descriptor* s) { return string_mid(s, -1, 4, 1); }, "ab"},
        {"mid from 2 count INT_MAX", [](string_descriptor* s) { return string_mid(s, 2, INT_MAX, 1); }, "bc"},
        {"mid from INT_MIN count INT_MAX", [](string_descriptor* s) { return string_mid(s, INT_MIN, INT_MAX, 1); },
         ""},
    };
    for (const auto& r : rows) EXPECT_EQ(text_of(r.f(literal("abc"))), r.expected) << r.what;
    EXPECT_EQ(text_of(string_mid(literal("abcdef"), -1, 4, 1)), "ab");
    EXPECT_EQ(text_of(string_mid(literal("abcdef"), 3, 0, 0)), "cdef");
    EXPECT_EQ(text_of(string_mid(literal("abcdef"), 7, 0, 0)), "");
    string_descriptor* hello = make(string_kind::disposable, "hello");
    EXPECT_EQ(string_right(hello, 2), hello);
    EXPECT_EQ(text_of(hello), "lo");
}

TEST_F(StringParts, TrimDropsOnlyBlanks) {
    struct row { const char* text; const char* left; const char* right; };
    const row rows[] = {{"", "", ""},          {"   ", "", ""},        {"  a b  ", "a b  ", "  a b"},
                        {"\tx\t", "\tx\t", "\tx\t"}, {"ab", "ab", "ab"}};
    for (const auto& r : rows) {
        check_part(r.text, r.left, string_trim_left, std::string("trim left '") + r.text + "'");
        check_part(r.text, r.right, string_trim_right, std::string("trim right '") + r.text + "'");
    }
}

TEST_F(StringParts, CaseConversionChangesOnlyAsciiLetters) {
    std::string all(256, '\0'), upper(256, '\0'), lower(256, '\0');
    for (int c = 0; c < 256; ++c) {
        all[size_t(c)] = static_cast<char>(c);
        upper[size_t(c)] = static_cast<char>(c >= 'a' && c <= 'z' ? c - 32 : c);
        lower[size_t(c)] = static_cast<char>(c >= 'A' && c <= 'Z' ? c + 32 : c);
    }
    check_part(all, upper, string_to_upper, "upper", false);
    check_part(all, lower, string_to_lower, "lower", false);
    check_part("", "", string_to_upper, "upper of empty");
    EXPECT_EQ(text_of(string_to_upper(literal("a1\xe9"))), "A1\xe9");
}

TEST_F(StringFunctions, MadeStrings) {
    for (int32_t code : {INT_MIN, -1, 0, 65, 255, 256, INT_MAX}) {
        boxes.reset_words();
        string_descriptor* s = string_from_char_code(code);
        bool ok = code >= 0 && code <= 255;
        EXPECT_EQ(text_of(s), ok ? std::string(1, static_cast<char>(code)) : "") << code;
        EXPECT_EQ(error_number.load(), ok ? 0 : 5) << code;
        EXPECT_EQ(s->temporary, 1);
    }
    EXPECT_EQ(text_of(string_variable_reference(3, 0x1234)), "\x03\x34\x12");
    EXPECT_EQ(text_of(string_spaces(3)), "   ");
    EXPECT_EQ(text_of(string_spaces(-5)), "");
    EXPECT_EQ(text_of(string_repeat_byte(2, 0x141)), "AA");
    EXPECT_EQ(text_of(string_repeat_byte(INT_MIN, 'x')), "");
}

TEST_F(StringFunctions, FindScansForThePattern) {
    struct row { int32_t start; int32_t given; const char* s; const char* pattern; int32_t found; };
    const row rows[] = {
        {4, 1, "abcabc", "c", 6},    {0, 0, "abcabc", "", 1},   {0, 1, "abcabc", "", 0},
        {7, 1, "abcabc", "", 0},     {1, 0, "", "", 0},         {0, 1, "abcabc", "bc", 2},
        {INT_MIN, 1, "abcabc", "ca", 3}, {INT_MAX, 1, "abcabc", "c", 0}, {5, 1, "abcabc", "bc", 5},
        {6, 1, "abcabc", "bc", 0},   {1, 1, "aab", "ab", 2},    {1, 1, "ab", "abc", 0},
    };
    for (const auto& r : rows)
        EXPECT_EQ(string_find(r.start, literal(r.s), literal(r.pattern), r.given), r.found)
            << r.s << " " << r.pattern << " from " << r.start;
    for (int32_t start = 1; start <= 6; ++start)
        EXPECT_EQ(string_find(start, literal("abcabc"), literal(""), 1), start);
}

TEST_F(StringFunctions, FindAgreesWithAPlainSearchOnEveryShortText) {
    // Every text over {a, b} of up to 5 bytes, every pattern of up to 3.
    std::vector<std::string> texts = {""};
    for (size_t i = 0; i < texts.size(); ++i)
        if (texts[i].size() < 5) {
            texts.push_back(texts[i] + 'a');
            texts.push_back(texts[i] + 'b');
        }
    for (const std::string& s : texts)
        for (const std::string& p : texts) {
            if (p.size() > 3) continue;
            for (int32_t start = -1; start <= 7; ++start) {
                int32_t expected = 0;
                if (!s.empty() && !(start < 1 && p.empty())) {
                    size_t at = s.find(p, static_cast<size_t>(std::max(start, 1) - 1));
                    expected = at == std::string::npos || std::max(start, 1) > int32_t(s.size()) ? 0 : int32_t(at) + 1;
                }
                ASSERT_EQ(string_find(start, literal(s), literal(p), 1), expected) << s << " " << p << " " << start;
            }
            string_temps_release(1, 0);
        }
}

TEST_F(StringFunctions, ComparisonsOrderBytesUnsignedThenByLength) {
    std::vector<std::string> texts = {""};
    for (size_t i = 0; i < texts.size(); ++i)
        if (texts[i].size() < 3)
            for (char c : {'\0', 'a', '\xff'}) texts.push_back(texts[i] + c);
    auto truth = [](bool b) { return b ? -1 : 0; };
    for (const std::string& a : texts)
        for (const std::string& b : texts) {
            string_descriptor* x = literal(a);
            string_descriptor* y = literal(b);
            int c = a.compare(b);  // char traits compare bytes as unsigned
            ASSERT_EQ(string_equal(x, y), truth(c == 0));
            ASSERT_EQ(string_not_equal(x, y), truth(c != 0));
            ASSERT_EQ(string_less(x, y), truth(c < 0));
            ASSERT_EQ(string_greater(x, y), truth(c > 0));
            ASSERT_EQ(string_less_equal(x, y), truth(c <= 0));
            ASSERT_EQ(string_greater_equal(x, y), truth(c >= 0));
            string_temps_release(1, 0);
        }
    EXPECT_EQ(string_less_equal(string_empty, literal("a")), -1);
    EXPECT_EQ(string_greater_equal(literal("a"), string_empty), -1);
    EXPECT_EQ(string_less(string_empty, literal("")), 0);
    EXPECT_EQ(string_less(literal("ab"), literal("abc")), -1);
    EXPECT_EQ(string_greater(literal("b"), literal("abc")), -1);
}

TEST_F(StringFunctions, CharacterCodesAndLength) {
    string_descriptor* s = literal("A\xff");
    struct row { int32_t position; int32_t code; int32_t error; };
    const row rows[] = {{1, 65, 0}, {2, 255, 0}, {0, 0, 5}, {3, 0, 5}, {-1, 0, 5}, {INT_MIN, 0, 5}, {INT_MAX, 0, 5}};
    for (const auto& r : rows) {
        boxes.reset_words();
        EXPECT_EQ(string_char_code_at(s, r.position), r.code) << r.position;
        EXPECT_EQ(error_number.load(), r.error) << r.position;
    }
    boxes.reset_words();
    EXPECT_EQ(string_char_code(s), 65);
    EXPECT_EQ(string_char_code(string_empty), 0);
    EXPECT_EQ(error_number.load(), 5);
    EXPECT_EQ(string_length(s), 2);
    EXPECT_EQ(string_length(string_empty), 0);
}

using StringStores = string_store_test;

TEST_F(StringStores, AlignedStoresKeepTheTargetLength) {
    struct row { const char* source; const char* left; const char* right; };
    const row rows[] = {{"ab", "ab  ", "  ab"}, {"abcdef", "abcd", "abcd"}, {"", "    ", "    "}, {"wxyz", "wxyz", "wxyz"}};
    for (const auto& r : rows) {
        string_descriptor* target = string_fixed_view(kept("####"), 4, 0);
        string_descriptor* source = literal(r.source);
        string_set_left(target, source);
        EXPECT_EQ(text_of(target), r.left) << r.source;
        string_set_right(target, source);
        EXPECT_EQ(text_of(target), r.right) << r.source;
        EXPECT_EQ(source->temporary, 1) << "the source is not freed";
        string_descriptor* heap = variable("12345");
        string_set_right(heap, source);
        EXPECT_EQ(heap->length, 5);
    }
}

std::vector<string_descriptor*> field_writes;

TEST_F(StringStores, AlignedStoresWriteABoundTargetThroughToItsField) {
    field_writes.clear();
    string_field_hooks_set({nullptr, [](string_descriptor* s) { field_writes.push_back(s); }});
    string_descriptor* bound = variable("....");
    string_descriptor* unbound = variable("....");
    bound->field_link = reinterpret_cast<field_link*>(&field_writes);
    string_set_left(bound, literal("a"));
    string_set_right(bound, literal("b"));
    string_set_left(unbound, literal("c"));
    EXPECT_EQ(field_writes, std::vector<string_descriptor*>({bound, bound}));
    string_field_hooks_set({});
}

TEST_F(StringStores, StatementsDoNothingWhileAnErrorIsPending) {
    string_descriptor* target = variable("abcd");
    error_raise(5);
    string_set_left(target, literal("x"));
    string_set_right(target, literal("x"));
    string_mid_overwrite(target, 1, 1, literal("x"), 1);
    EXPECT_EQ(text_of(target), "abcd");
}

TEST_F(StringStores, OverwriteWritesOnlyWhereTargetAndSourceWindowsMeet) {
    const std::string targets[] = {"", "a", "abcdef"};
    const std::string sources[] = {"", "XYZ", "0123456789"};
    const std::string guard = "!guard!";
    for (const std::string& t : targets)
        for (const std::string& src : sources)
            for (int32_t start : edge_numbers())
                for (int32_t count : edge_numbers())
                    for (int32_t given : {0, 1}) {
                        // The target is a view with guard bytes behind it: nothing may be written there.
                        uint8_t* bytes = kept(t + guard);
                        string_descriptor* target = string_fixed_view(bytes, int32_t(t.size()), 0);
                        string_descriptor* source = literal(src);
                        string_mid_overwrite(target, start, count, source, given);
                        // Target byte p (1-based) takes source byte p - start when p lies in both windows.
                        std::string expected = t;
                        int64_t last = int64_t(start) + (given ? count : int64_t(src.size())) - 1;
                        for (int64_t p = 1; p <= int64_t(t.size()); ++p) {
                            int64_t j = p - start;
                            if (p >= start && p <= last && j < int64_t(src.size())) expected[size_t(p - 1)] = src[size_t(j)];
                        }
                        ASSERT_EQ(std::string(reinterpret_cast<char*>(bytes), t.size() + guard.size()), expected + guard)
                            << "'" << t << "' from " << start << " count " << count << " given " << given << " '"
                            << src << "'";
                        ASSERT_EQ(text_of(source), src);
                        string_free(target);
                        string_temps_release(1, 0);
                    }
}

TEST_F(StringStores, OverwriteExamplesAndRefusedTargets) {
    struct row { int32_t start; const char* expected; };
    const row rows[] = {{0, "YZcdef"}, {5, "abcdXY"}, {1, "XYZdef"}, {7, "abcdef"}};
    for (const auto& r : rows) {
        string_descriptor* s = variable("abcdef");
        string_mid_overwrite(s, r.start, 0, literal("XYZ"), 0);
        EXPECT_EQ(text_of(s), r.expected) << r.start;
    }
    string_descriptor* self = variable("abcdef");
    string_mid_overwrite(self, 3, 10, self, 1);
    EXPECT_EQ(text_of(self), "ababcd") << "an overlapping copy reads the old bytes";
    string_mid_overwrite(string_space, 1, 1, literal("x"), 0);
    EXPECT_EQ(text_of(string_space), " ");
    string_descriptor* constant = string_from_cstring("const");
    string_mid_overwrite(constant, 1, 1, literal("x"), 0);
    EXPECT_EQ(text_of(constant), "const");
    EXPECT_EQ(text_of(string_from_cstring(nullptr)), "");
}

TEST(MemorySwap, ExchangesEveryByteAtAnyAlignment) {
    for (uint32_t n = 0; n <= 11; ++n)
        for (uint32_t shift = 0; shift < 4; ++shift) {
            uint8_t a[16], b[16];
            for (int i = 0; i < 16; ++i) {
                a[i] = static_cast<uint8_t>(i);
                b[i] = static_cast<uint8_t>(100 + i);
            }
            memory_swap(a + shift, b + 1, n);
            for (uint32_t i = 0; i < 16; ++i) {
                bool in_a = i >= shift && i < shift + n;
                bool in_b = i >= 1 && i < 1 + n;
                ASSERT_EQ(a[i], in_a ? 100 + 1 + (i - shift) : i) << n << " " << shift << " " << i;
                ASSERT_EQ(b[i], in_b ? shift + (i - 1) : 100 + i) << n << " " << shift << " " << i;
            }
        }
}

}  // namespace
