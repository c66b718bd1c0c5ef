#include <gtest/gtest.h>
#include <gmock/gmock.h>

#include <climits>
#include <cstdlib>
#include <functional>
#include <random>

#include "core/string_functions.h"
#include "core/string_fixture.h"

namespace {

uint8_t* segment() { return dos_memory + string_segment_address; }
uint32_t word_at(uint32_t offset) { return segment()[offset] | segment()[offset + 1] << 8; }
uint32_t entry_length(const string_descriptor* s) { return word_at(s->segment_entry_offset); }
uint32_t entry_text(const string_descriptor* s) { return word_at(s->segment_entry_offset + 2u); }
uint32_t segment_offset(const string_descriptor* s) { return static_cast<uint32_t>(s->text - segment()); }

using StringStore = string_store_test;

TEST_F(StringStore, StartUpStringsLieAtTheirEmulatedAddresses) {
    std::memset(segment() + 65520, 0xAA, 16);
    string_store_reset();
    string_segment_init();
    for (uint32_t i = 65528; i < 65536; ++i) EXPECT_EQ(segment()[i], 0) << i;
    EXPECT_EQ(string_segment_bottom(), 65520u);

    struct row { string_descriptor* s; const char* text; uint32_t entry; };
    const row rows[] = {{string_empty, "", 65524}, {string_space, " ", 65520}};
    for (const auto& r : rows) {
        EXPECT_EQ(text_of(r.s), r.text);
        EXPECT_EQ(r.s->in_segment, 1);
        EXPECT_EQ(r.s->text, dos_memory + 0x500 + 256);
        EXPECT_EQ(r.s->segment_entry_offset, r.entry);
        EXPECT_EQ(entry_length(r.s), static_cast<uint32_t>(r.s->length));
        EXPECT_EQ(entry_text(r.s), 256u);
    }
    string_descriptor* next = string_segment_new(2, 0);
    EXPECT_EQ(segment_offset(next), 257u);
    EXPECT_EQ(next->segment_entry_offset, 65516);

    startup_strings_make("-x my file");
    EXPECT_EQ(text_of(x86_error_message), std::string("Unknown Opcode (  )", 20));
    EXPECT_EQ(text_of(command_line_string), "-x my file");
    for (const string_descriptor* s : {x86_error_message, command_line_string}) {
        EXPECT_EQ(s->in_segment, 0);
        EXPECT_EQ(s->temporary, 0);
    }
    startup_strings_make("");
    EXPECT_EQ(command_line_string->length, 0);
    EXPECT_EQ(string_store_verify(), "");
}

TEST_F(StringStore, PermanentStringsAreNeverFreedOrMadeTemporary) {
    uint32_t top = string_temp_top();
    string_make_temp(string_empty);
    string_free(string_space);
    EXPECT_EQ(string_temp_top(), top);
    EXPECT_EQ(string_empty->temporary, 0);
    EXPECT_EQ(text_of(string_space), " ");
    EXPECT_EQ(string_store_verify(), "");
}

TEST_F(StringStore, FixedTargetIsPaddedOrCut) {
    struct row { const char* source; const char* stored; };
    const row rows[] = {{"abc", "abc  "}, {"abcdefg", "abcde"}, {"", "     "}, {"vwxyz", "vwxyz"}};
    for (const auto& r : rows) {
        string_descriptor* target = string_fixed_view(kept("#####"), 5, 0);
        uint32_t top = string_temp_top();
        EXPECT_EQ(string_assign(target, literal(r.source)), target);
        EXPECT_EQ(text_of(target), r.stored) << r.source;
        EXPECT_EQ(string_temp_top(), top) << "the literal is freed";
    }
}

TEST_F(StringStore, AssigningATemporaryTakesOverItsText) {
    for (const bool in_segment : {false, true}) {
        string_descriptor* v = in_segment ? string_segment_new(0, 0) : variable("old");
        uint32_t top = string_temp_top();
        string_descriptor* t = in_segment ? filled(string_segment_new(4, 1), "abcd")
                                          : string_concat(literal("ab"), literal("cd"));
        uint8_t* text = t->text;
        uint32_t recycled = string_store_stats_get().recycled;
        EXPECT_EQ(string_assign(v, t), v);
        EXPECT_EQ(v->text, text) << "no copy";
        EXPECT_EQ(text_of(v), "abcd");
        EXPECT_EQ(string_temp_top(), top);
        EXPECT_EQ(string_store_stats_get().recycled, recycled + 1);
        if (in_segment) {
            EXPECT_EQ(entry_text(v), segment_offset(v));
        }
        EXPECT_EQ(string_store_verify(), "");
    }
}

TEST_F(StringStore, ConcatWithAnEmptyOperandGivesTheOtherItself) {
    string_descriptor* t = make(string_kind::disposable, "xy");
    EXPECT_EQ(string_concat(literal(""), t), t);
    EXPECT_EQ(string_concat(t, literal("")), t);
    string_descriptor* v = variable("v");
    EXPECT_EQ(string_concat(string_empty, v), v);
    EXPECT_EQ(text_of(t), "xy");
}

TEST_F(StringStore, OneTemporaryPassedTwiceIsFreedOnce) {
    string_descriptor* t = make(string_kind::disposable, "ab");
    uint32_t recycled = string_store_stats_get().recycled;
    string_descriptor* r = string_concat(t, t);
    EXPECT_EQ(text_of(r), "abab");
    EXPECT_EQ(string_store_stats_get().recycled, recycled + 1);
    EXPECT_EQ(string_store_verify(), "");
    string_descriptor* u = make(string_kind::disposable, "cd");
    EXPECT_EQ(string_assign(u, u), u);
    EXPECT_EQ(text_of(u), "cd");
    EXPECT_EQ(string_store_verify(), "");
}

TEST_F(StringStore, JoinGrowsADisposableFirstOperandWhereItLies) {
    // a: a disposable temporary of 5 bytes and the 32 bytes of room behind it, or a string of
    // another kind, which never grows; b made after it.
    struct row {
        const char* what;
        string_kind b_kind;
        int b_length;
        bool variable_before_b, variable_after_b, in_place;
        string_kind a_kind = string_kind::disposable;
        int heap_strings_before_a = 0;  // 100-byte variables
    };
    const row rows[] = {
        {"literal filling the room", string_kind::literal, 32, false, false, true},
        {"literal one byte beyond", string_kind::literal, 33, false, false, false},
        {"next temporary within the room", string_kind::disposable, 32, false, false, true},
        {"next temporary one byte beyond", string_kind::disposable, 33, false, false, false},
        {"a variable lies between", string_kind::disposable, 3, true, false, false},
        {"a variable follows the temporary", string_kind::disposable, 3, false, true, false},
        {"a variable follows the first", string_kind::literal, 3, true, false, false},
        {"next is a variable", string_kind::variable, 3, false, false, false},
        {"segment temporary", string_kind::segment_temp, 32, false, false, true},
        // The heap's last entry lies just behind a's entry in the segment list, and the heap's
        // top lies far beyond a's offset in the segment.
        {"first is a segment temporary", string_kind::literal, 2, false, false, false, string_kind::segment_temp, 3},
        {"first is a literal", string_kind::literal, 2, false, false, false, string_kind::literal, 3},
        {"first is a fixed view", string_kind::literal, 2, false, false, false, string_kind::fixed_temp, 3},
    };
    for (const auto& r : rows) {
        store_make({});
        for (int i = 0; i < r.heap_strings_before_a; ++i) variable(std::string(100, 'v'));
        string_descriptor* a = make(r.a_kind, "aaaaa");
        uint8_t* place = a->text;
        string_descriptor* before = r.variable_before_b ? variable("v") : nullptr;
        std::string b_text(static_cast<size_t>(r.b_length), 'b');
        string_descriptor* b = make(r.b_kind, b_text);
        string_descriptor* after = r.variable_after_b ? variable("w") : nullptr;
        string_descriptor* j = string_concat(a, b);
        EXPECT_EQ(text_of(j), "aaaaa" + b_text) << r.what;
        EXPECT_EQ(j == a && j->text == place, r.in_place) << r.what;
        EXPECT_EQ(j->temporary, 1) << r.what;
        EXPECT_EQ(b->temporary, 0) << r.what << ": a temporary b is freed";
        if (before) {
            EXPECT_EQ(text_of(before), "v") << r.what;
        }
        if (after) {
            EXPECT_EQ(text_of(after), "w") << r.what;
        }
        if (r.b_kind == string_kind::variable) {
            EXPECT_EQ(text_of(b), b_text) << r.what;
        }
        // Strings made next lie behind the joined text, not over it.
        string_descriptor* next = variable("next");
        string_descriptor* next_in_segment = filled(string_segment_new(4, 0), "next");
        EXPECT_EQ(text_of(j), "aaaaa" + b_text) << r.what;
        EXPECT_EQ(text_of(next), "next") << r.what;
        EXPECT_EQ(text_of(next_in_segment), "next") << r.what;
        EXPECT_EQ(string_store_verify(), "") << r.what;
    }
}

TEST(StringBytes, MoveEqualsTheLibraryMoveForEveryShortLengthAndOverlap) {
    // Lengths around every word size; places from far apart to overlapping either way.
    constexpr int span = 48;
    for (int n = 0; n <= 40; ++n) {
        for (int from = 0; from + n <= span; from += 3) {
            for (int to = 0; to + n <= span; ++to) {
                uint8_t ours[span], theirs[span];
                for (int i = 0; i < span; ++i) ours[i] = theirs[i] = static_cast<uint8_t>(i * 37 + n);
                string_bytes_move(ours + to, ours + from, static_cast<size_t>(n));
                std::memmove(theirs + to, theirs + from, static_cast<size_t>(n));
                ASSERT_EQ(std::memcmp(ours, theirs, span), 0) << "n=" << n << " from=" << from << " to=" << to;
            }
        }
    }
}

TEST_F(StringStore, ShortTemporariesKeepTheirTextInTheirDescriptor) {
    const uint32_t lengths[] = {0, 1, string_room_size, string_room_size + 1};
    for (uint32_t n : lengths) {
        string_store_stats before = string_store_stats_get();
        string_descriptor* t = filled(string_temp_new(n), std::string(n, 'r'));
        bool in_room = n <= string_room_size;
        EXPECT_EQ(t->in_room, in_room) << n;
        EXPECT_EQ(t->temporary, 1) << n;
        EXPECT_EQ(t->text == t->room, in_room) << n;
        string_store_stats after = string_store_stats_get();
        EXPECT_EQ(after.heap_list_count, before.heap_list_count + !in_room) << n << ": no list entry in the room";
        EXPECT_EQ(after.heap_used == before.heap_used, in_room) << n;
        EXPECT_EQ(text_of(t), std::string(n, 'r'));
        EXPECT_EQ(string_store_verify(), "") << n;
        string_free(t);
        EXPECT_EQ(string_store_stats_get().heap_used, before.heap_used) << n;
    }
}

TEST_F(StringStore, AShortTemporaryIsCopiedIntoItsTarget) {
    // A room cannot be taken over: the variable keeps its own place, whose growth room holds any
    // text short enough for a room, even with a neighbour behind it.
    struct row { const char* old_text; std::string new_text; };
    const row rows[] = {{"0123456789", "abc"}, {"", "abcdef"}, {"x", std::string(string_room_size, 'y')}};
    for (const auto& r : rows) {
        store_make({});
        string_descriptor* v = variable(r.old_text);
        string_descriptor* neighbour = variable("n");
        uint8_t* place = v->text;
        uint32_t top = string_temp_top();
        string_descriptor* t = filled(string_temp_new(static_cast<uint32_t>(r.new_text.size())), r.new_text);
        uint32_t recycled = string_store_stats_get().recycled;
        EXPECT_EQ(string_assign(v, t), v);
        EXPECT_EQ(text_of(v), r.new_text);
        EXPECT_EQ(v->in_room, 0);
        EXPECT_EQ(v->text, place) << r.new_text;
        EXPECT_EQ(text_of(neighbour), "n");
        EXPECT_EQ(string_temp_top(), top) << "the temporary is freed";
        EXPECT_EQ(string_store_stats_get().recycled, recycled + 1);
        EXPECT_EQ(string_store_verify(), "");
    }
}

TEST_F(StringStore, AShortTemporaryAsTargetStaysInItsRoomOnlyWhileItFits) {
    struct row { const char* what; string_kind source_kind; uint32_t length; bool in_room; };
    const row rows[] = {
        {"literal filling the room", string_kind::literal, string_room_size, true},
        {"literal one byte beyond", string_kind::literal, string_room_size + 1, false},
        {"heap temporary taken over", string_kind::disposable, 3, false},
        {"variable", string_kind::variable, 40, false},
    };
    for (const auto& r : rows) {
        store_make({});
        string_descriptor* t = filled(string_temp_new(2), "ab");
        std::string text(r.length, 's');
        string_descriptor* source = make(r.source_kind, text);
        EXPECT_EQ(string_assign(t, source), t);
        EXPECT_EQ(text_of(t), text) << r.what;
        EXPECT_EQ(t->in_room, r.in_room) << r.what;
        EXPECT_EQ(t->temporary, 1) << r.what;
        string_descriptor* next = variable("next");
        EXPECT_EQ(text_of(t), text) << r.what << ": a string made next lies elsewhere";
        EXPECT_EQ(text_of(next), "next");
        EXPECT_EQ(string_store_verify(), "") << r.what;
    }
}

TEST_F(StringStore, JoinsInARoomUpToItsSize) {
    for (const uint32_t extra : {string_room_size - 5, string_room_size - 4}) {
        string_descriptor* a = filled(string_temp_new(5), "aaaaa");
        std::string b(extra, 'b');
        string_descriptor* j = string_concat(a, literal(b));
        bool fits = 5 + extra <= string_room_size;
        EXPECT_EQ(j == a, fits) << extra;
        EXPECT_EQ(j->in_room, fits) << extra;
        EXPECT_EQ(text_of(j), "aaaaa" + b);
        EXPECT_EQ(string_store_verify(), "");
    }
}

TEST_F(StringStore, GrowthInPlaceReachesUpToTheNextLiveText) {
    struct row { int extra; bool neighbour_freed; bool in_place; };
    const row rows[] = {{32, false, true}, {33, false, false}, {33, true, true}, {5000, true, true}};
    for (const auto& r : rows) {
        store_make({});
        string_descriptor* a = variable(std::string(10, 'a'));
        string_descriptor* b = variable("bbbbb");
        ASSERT_EQ(b->text, a->text + 10 + string_heap_room);
        if (r.neighbour_freed) string_free(b);
        uint8_t* place = a->text;
        std::string grown(10 + r.extra, 'g');
        string_assign(a, literal(grown));
        EXPECT_EQ(a->text == place, r.in_place) << r.extra;
        EXPECT_EQ(text_of(a), grown);
        if (!r.neighbour_freed) {
            EXPECT_EQ(text_of(b), "bbbbb");
        }
        EXPECT_EQ(string_store_verify(), "");
    }
}

TEST_F(StringStore, CompactionClosesOnlyGapsWiderThanTheGrowthRoom) {
    // Three strings of 10 bytes, each reserving 32 bytes of room; the first is then shortened.
    struct row { size_t first_length; size_t second_at, third_at; };
    const row rows[] = {{10, 42, 84}, {9, 9, 19}, {0, 0, 10}};
    for (const auto& r : rows) {
        store_make({});
        string_descriptor* a = variable("0123456789");
        string_descriptor* b = variable("bbbbbbbbbb");
        string_descriptor* c = variable("cccccccccc");
        string_assign(a, literal(std::string(r.first_length, 'a')));
        string_heap_compact(0);
        EXPECT_EQ(static_cast<size_t>(b->text - a->text), r.second_at) << r.first_length;
        EXPECT_EQ(static_cast<size_t>(c->text - a->text), r.third_at) << r.first_length;
        EXPECT_EQ(text_of(a), std::string(r.first_length, 'a'));
        EXPECT_EQ(text_of(b), "bbbbbbbbbb");
        EXPECT_EQ(text_of(c), "cccccccccc");
        EXPECT_EQ(string_store_stats_get().heap_used, r.third_at + 10) << "no room kept behind the last";
    }
}

TEST_F(StringStore, RelocationCopiesTheSourceFromWhereCompactionPutIt) {
    // The target must move to the heap's top, the heap is full, and compaction slides the source
    // down over part of its old place.
    store_make({.heap_size = 360});
    std::string bytes;
    for (int i = 0; i < 100; ++i) bytes += static_cast<char>('0' + i % 75);
    string_descriptor* gap = variable(std::string(40, 'g'));
    string_descriptor* source = variable(bytes);
    string_descriptor* target = variable("");
    string_descriptor* neighbour = variable("n");
    string_free(gap);
    string_assign(target, source);
    EXPECT_EQ(string_store_stats_get().heap_compactions, 1u);
    EXPECT_EQ(string_store_stats_get().heap_size, 360u);
    EXPECT_EQ(text_of(target), bytes);
    EXPECT_EQ(text_of(source), bytes);
    EXPECT_EQ(text_of(neighbour), "n");
    EXPECT_EQ(string_store_verify(), "");
}

TEST_F(StringStore, FreeingTheLastHeapStringsGivesTheirPlaceBack) {
    string_descriptor* a = variable("abc");
    string_descriptor* b = variable("b");
    string_descriptor* c = variable("c");
    string_free(b);
    string_free(c);
    EXPECT_EQ(variable("d")->text, a->text + 3 + string_heap_room) << "the room behind the last text stays";
    store_make({});
    string_descriptor* x = variable("x");
    uint8_t* start = x->text;
    string_free(x);
    EXPECT_EQ(variable("y")->text, start) << "an empty heap starts again at its beginning";
}

TEST_F(StringStore, HeapGrowthMovesEveryTextWithTheBlock) {
    store_make({.heap_size = 256});
    std::vector<std::pair<string_descriptor*, std::string>> strings;
    for (int i = 0; i < 5; ++i) {
        std::string text(7 + i, static_cast<char>('a' + i));
        strings.emplace_back(variable(text), text);
    }
    strings.emplace_back(make(string_kind::disposable, "temporary"), "temporary");
    string_descriptor* big = string_new(300, 0);
    EXPECT_GE(string_store_stats_get().heap_size, 300u + 2 * 256u);
    for (const auto& [s, text] : strings) EXPECT_EQ(text_of(s), text);
    EXPECT_EQ(big->length, 300);
    EXPECT_EQ(string_store_verify(), "");
}

TEST_F(StringStore, ReleaseFreesTheTemporariesAtAndAboveTheMark) {
    uint32_t outer = string_temp_top();
    string_descriptor* kept_temp = literal("kept");
    uint32_t inner = string_temp_top();
    make(string_kind::disposable, "inner");
    make(string_kind::segment_temp, "inner");
    uint32_t recycled = string_store_stats_get().recycled;
    EXPECT_EQ(string_temps_release(string_temp_top(), 9), 9);
    EXPECT_EQ(string_store_stats_get().recycled, recycled) << "a mark at the top frees nothing";
    EXPECT_EQ(string_temps_release(inner, -1), -1);
    EXPECT_EQ(string_temp_top(), inner);
    EXPECT_EQ(string_store_stats_get().recycled, recycled + 2);
    EXPECT_EQ(text_of(kept_temp), "kept");
    EXPECT_EQ(string_temps_release(outer, 0), 0);
    EXPECT_EQ(string_temp_top(), outer);
    EXPECT_EQ(string_store_verify(), "");
}

TEST_F(StringStore, FreeingBelowTheTopLowersItOnlyOverFreedEntries) {
    uint32_t mark = string_temp_top();
    string_descriptor* t[3] = {literal("1"), literal("2"), literal("3")};
    string_free(t[1]);
    EXPECT_EQ(string_temp_top(), mark + 3);
    string_free(t[2]);
    EXPECT_EQ(string_temp_top(), mark + 1);
    string_free(t[0]);
    EXPECT_EQ(string_temp_top(), mark);
}

TEST_F(StringStore, SegmentEntryFollowsItsTextThroughCompaction) {
    string_descriptor* gone = filled(string_segment_new(100, 0), std::string(100, 'x'));
    string_descriptor* s = filled(string_segment_new(3, 0), "abc");
    string_free(gone);
    EXPECT_EQ(entry_text(s), 357u);
    uint32_t room = string_segment_bottom() - string_store_stats_get().segment_top;
    string_descriptor* big = string_segment_new(room + 1, 1);
    EXPECT_EQ(segment_offset(s), 257u) << "compacted from 256 upward";
    EXPECT_EQ(text_of(s), "abc");
    EXPECT_EQ(entry_length(s), 3u);
    EXPECT_EQ(entry_text(s), 257u);
    EXPECT_EQ(segment_offset(big), 260u);
    EXPECT_EQ(string_store_verify(), "");
}

TEST_F(StringStore, FixedViewInsideTheSegmentGetsAnEntry) {
    string_descriptor* inside = string_fixed_view(segment() + 100, 8, 0);
    EXPECT_EQ(inside->segment_entry_offset, 65516);
    EXPECT_EQ(entry_length(inside), 8u);
    EXPECT_EQ(entry_text(inside), 100u);
    EXPECT_EQ(inside->in_segment, 0);
    for (void* address : {static_cast<void*>(segment()), static_cast<void*>(segment() + 65536),
                          static_cast<void*>(kept("outside"))})
        EXPECT_EQ(string_fixed_view(address, 4, 0)->segment_entry, nullptr);
}

TEST_F(StringStore, SwapPadsAndCutsFixedVariables) {
    string_descriptor* a = variable("abcdef");
    string_descriptor* f = string_fixed_view(kept("wxyz"), 4, 0);
    string_swap(a, f);
    EXPECT_EQ(text_of(a), "wxyz");
    EXPECT_EQ(text_of(f), "abcd");
    string_descriptor* s = filled(string_segment_new(2, 0), "s2");
    string_swap(s, a);
    EXPECT_EQ(text_of(s), "wxyz");
    EXPECT_EQ(text_of(a), "s2");
    EXPECT_EQ(string_store_verify(), "");
}

class StringStoreDeathTest : public string_store_test {
protected:
    void SetUp() override {
        GTEST_FLAG_SET(death_test_style, "threadsafe");
        string_store_test::SetUp();
    }
};

TEST_F(StringStoreDeathTest, ExhaustedStoreEndsTheProcess) {
    struct row { int number; std::function<void()> run; };
    const row rows[] = {
        {513, [] { string_segment_new(65536, 0); }},
        {514, [] { string_segment_new(string_segment_bottom() - string_store_stats_get().segment_top, 0); }},
        {515,
         [] {
             string_segment_new(string_segment_bottom() - string_store_stats_get().segment_top - 2, 1);
             string_fixed_view(segment() + 100, 4, 0);
         }},
        {512, [] { string_new(0x80000000u, 0); }},
        {512,
         [this] {
             string_descriptor* huge = string_fixed_view(kept("x"), INT32_MAX, 1);
             string_concat(huge, literal("y"));
         }},
    };
    for (const auto& r : rows) {
        std::string box = "caption=\"Critical Error #" + std::to_string(r.number - 500) + "\" text=\"Out of memory\"";
        EXPECT_EXIT(
            {
                platform::platform_message_box_handler_set(nullptr);
                setenv("LUMO_MSGBOX", "auto", 1);
                r.run();
            },
            ::testing::ExitedWithCode(70), ::testing::HasSubstr(box))
            << r.number;
    }
}

// Random statements against a model of std::string values: variables of every kind, temporaries
// kept across statements, nested routine marks; tiny tables so that every compaction and growth
// path runs many times.
class StringStoreModel : public string_store_test {
protected:
    struct value {
        string_descriptor* s;
        std::string text;
    };

    std::mt19937 rng{1};
    std::vector<value> variables;  // heap, segment and fixed-length variables
    std::vector<bool> fixed_variable;
    std::vector<value> held;       // temporaries that later statements still use
    std::vector<uint32_t> marks;
    size_t held_in_room = 0;  // checks that found a held temporary in its descriptor's room
    size_t joins_in_place = 0;

    int pick(int n) { return std::uniform_int_distribution<int>(0, n - 1)(rng); }
    bool chance(int percent) { return pick(100) < percent; }

    std::string random_text(int max) {
        std::string t(static_cast<size_t>(pick(max + 1)), ' ');
        for (char& c : t) c = "ab yZ\x01\xff"[pick(7)];
        return t;
    }

    value fresh_temp() {
        std::string t = random_text(60);
        switch (pick(6)) {
        case 0: return {literal(t), t};
        case 1: return {make(string_kind::disposable, t), t};
        case 2:
        case 3: return {make(string_kind::segment_temp, t), t};
        case 4: return {make(string_kind::fixed_temp, t), t};
        default: {
            int n = pick(20);
            return {string_spaces(n), std::string(static_cast<size_t>(n), ' ')};
        }
        }
    }

    // A value of an expression; temporaries used as arguments are consumed.
    value expression(int depth) {
        int choice = depth > 2 ? pick(3) : pick(7);
        if (choice == 0 && !variables.empty()) return variables[static_cast<size_t>(pick(int(variables.size())))];
        if (choice == 1 && !held.empty()) {
            size_t i = static_cast<size_t>(pick(int(held.size())));
            value v = held[i];
            held.erase(held.begin() + static_cast<long>(i));
            return v;
        }
        if (choice <= 2) return fresh_temp();
        if (choice == 3) {
            value a = expression(depth + 1);
            value b = a.s->temporary && chance(20) ? a : expression(depth + 1);
            string_descriptor* joined = string_concat(a.s, b.s);
            // Only a join that grew a where it lay gives a back with more bytes.
            joins_in_place += joined == a.s && !a.text.empty() && !b.text.empty();
            return capped({joined, a.text + b.text});
        }
        value a = expression(depth + 1);
        auto len = static_cast<int32_t>(a.text.size());
        int32_t n = pick(len + 3) - 1;
        switch (choice) {
        case 4:
            if (chance(50)) return {string_left(a.s, n), a.text.substr(0, size_t(std::clamp(n, 0, len)))};
            return {string_right(a.s, n), a.text.substr(size_t(len - std::clamp(n, 0, len)))};
        case 5: {
            int32_t start = pick(len + 3) - 1;
            int64_t lo = std::max(start, 1), hi = std::min<int64_t>(int64_t(start) + n - 1, len);
            std::string expected = lo <= hi ? a.text.substr(size_t(lo - 1), size_t(hi - lo + 1)) : "";
            return {string_mid(a.s, start, n, 1), expected};
        }
        default: {
            std::string upper = a.text;
            for (char& c : upper)
                if (c >= 'a' && c <= 'z') c = static_cast<char>(c - 32);
            return {string_to_upper(a.s), upper};
        }
        }
    }

    value capped(value v) {
        if (v.text.size() <= 400) return v;
        return {string_left(v.s, 300), v.text.substr(0, 300)};
    }

    void assign(size_t i, value v) {
        value& target = variables[i];
        if (target.s->in_segment && v.text.size() > 200) v = {string_left(v.s, 200), v.text.substr(0, 200)};
        string_assign(target.s, v.s);
        if (fixed_variable[i])
            target.text = (v.text + std::string(target.text.size(), ' ')).substr(0, target.text.size());
        else
            target.text = v.text;
    }

    // A held temporary as the target: a constant one stays, a fixed one is padded or cut.
    void assign_to_held() {
        value v = expression(0);  // may consume held temporaries: the target is picked after it
        if (held.empty()) return;
        value& target = held[static_cast<size_t>(pick(int(held.size())))];
        if (v.s == target.s) return;
        if (target.s->in_segment && v.text.size() > 200) v = {string_left(v.s, 200), v.text.substr(0, 200)};
        if (target.s->read_only) {
            string_assign(target.s, v.s);
            return;
        }
        bool fixed = target.s->fixed;
        string_assign(target.s, v.s);
        target.text = fixed ? (v.text + std::string(target.text.size(), ' ')).substr(0, target.text.size()) : v.text;
    }

    void statement() {
        switch (pick(11)) {
        case 0:
        case 1:
        case 2: assign(static_cast<size_t>(pick(int(variables.size()))), expression(0)); break;
        case 3: {
            value v = expression(0);
            if (v.s->temporary) held.push_back(v);
            break;
        }
        case 4: {
            size_t a = static_cast<size_t>(pick(int(variables.size())));
            size_t b = static_cast<size_t>(pick(int(variables.size())));
            if (a == b) break;
            value va = variables[a], vb = variables[b];
            string_swap(va.s, vb.s);
            assign_model(a, vb.text);
            assign_model(b, va.text);
            break;
        }
        case 5: {  // a routine's local string: made, then freed or returned as a temporary
            if (variables.size() < 14) {
                variables.push_back({string_new(0, 0), ""});
                fixed_variable.push_back(false);
                break;
            }
            size_t i = heap_variable();
            if (chance(50)) {
                string_free(variables[i].s);
            } else {
                held.push_back({string_make_temp(variables[i].s), variables[i].text});
            }
            variables.erase(variables.begin() + static_cast<long>(i));
            fixed_variable.erase(fixed_variable.begin() + static_cast<long>(i));
            break;
        }
        case 6:
            if (marks.size() < 4) marks.push_back(string_temp_top());
            break;
        case 7:
            if (marks.size() > 1) {
                release(marks.back());
                marks.pop_back();
            }
            break;
        case 8: assign_to_held(); break;
        default: release(marks.back()); break;
        }
    }

    void assign_model(size_t i, const std::string& text) {
        std::string& t = variables[i].text;
        t = fixed_variable[i] ? (text + std::string(t.size(), ' ')).substr(0, t.size()) : text;
    }

    // The first plain heap variable (the first five are the segment and fixed ones).
    size_t heap_variable() { return 5 + static_cast<size_t>(pick(int(variables.size()) - 5)); }

    void release(uint32_t mark) {
        std::erase_if(held, [mark](const value& v) { return static_cast<uint32_t>(v.s->temp_slot) >= mark; });
        EXPECT_EQ(string_temps_release(mark, 42), 42);
    }

    void check(int step) {
        for (const value& v : variables) ASSERT_EQ(text_of(v.s), v.text) << "variable at step " << step;
        for (const value& v : held) {
            ASSERT_EQ(text_of(v.s), v.text) << "temporary at step " << step;
            ASSERT_EQ(v.s->temporary, 1);
            held_in_room += v.s->in_room;
        }
        ASSERT_EQ(string_store_verify(), "") << "step " << step;
    }
};

TEST_F(StringStoreModel, RandomStatementsKeepEveryTextIntact) {
    for (unsigned seed : {1u, 2u, 3u}) {
        store_make({.heap_size = 512, .list_capacity = 3, .temp_capacity = 3, .recycle_capacity = 2,
                    .descriptor_block = 4});
        rng.seed(seed);
        variables.clear();
        fixed_variable.clear();
        held.clear();
        held_in_room = joins_in_place = 0;
        marks = {string_temp_top()};
        for (int i = 0; i < 3; ++i) variables.push_back({string_segment_new(0, 0), ""});
        // Ballast that leaves the segment a few KB, so that it fills up and is compacted often.
        string_segment_new(63000, 0);
        variables.push_back({string_fixed_view(kept("fixed-8 "), 8, 0), "fixed-8 "});
        std::memcpy(segment() + 100, "in  seg ", 8);
        variables.push_back({string_fixed_view(segment() + 100, 8, 0), "in  seg "});
        fixed_variable = {false, false, false, true, true};
        for (int i = 0; i < 4; ++i) {
            variables.push_back({string_new(0, 0), ""});
            fixed_variable.push_back(false);
        }
        for (int step = 0; step < 20000; ++step) {
            statement();
            check(step);
            if (HasFatalFailure()) return;
        }
        release(marks.front());
        check(-1);
        string_store_stats stats = string_store_stats_get();
        EXPECT_GT(stats.heap_size, 512u) << "the heap grew";
        EXPECT_GT(stats.heap_list_capacity, 3u) << "the lists grew";
        EXPECT_GT(stats.temp_capacity, 3u);
        EXPECT_GT(stats.heap_compactions, 100u);
        EXPECT_GT(stats.segment_compactions, 5u);
        EXPECT_GT(joins_in_place, 100u) << "joins grew their first operand in place";
        EXPECT_GT(held_in_room, 1000u) << "short temporaries lived in their descriptors";
    }
}

TEST_F(StringStoreModel, LongJoinLoopsKeepEveryTextThroughCompactions) {
    // S$ = S$ + X$ statements on a few variables, some freed and made again, in a small heap: the
    // heap is compacted every few statements while the list holds many freed entries.
    store_make({.heap_size = 1024, .list_capacity = 63});
    std::vector<value> loop(6);
    for (value& v : loop) v = {string_new(0, 0), ""};
    uint32_t compactions = 0;
    int checked = 0;
    for (int step = 0; step < 40000; ++step) {
        value& v = loop[static_cast<size_t>(pick(int(loop.size())))];
        if (v.text.size() > 1500 || chance(2)) {
            string_free(v.s);
            v = {string_new(0, 0), ""};
        }
        uint32_t mark = string_temp_top();
        std::string piece = random_text(3);
        string_descriptor* x = chance(50) ? literal(piece) : make(string_kind::disposable, piece);
        string_assign(v.s, string_concat(v.s, x));
        v.text += piece;
        string_temps_release(mark, 0);
        if (string_store_stats_get().heap_compactions == compactions) continue;
        compactions = string_store_stats_get().heap_compactions;
        ++checked;
        for (const value& w : loop) ASSERT_EQ(text_of(w.s), w.text) << "step " << step;
        ASSERT_EQ(string_store_verify(), "") << "step " << step;
    }
    EXPECT_GT(checked, 1000);
    string_heap_compact(0);
    EXPECT_EQ(string_store_stats_get().heap_list_count, loop.size()) << "a compaction drops the freed entries";
    for (const value& w : loop) EXPECT_EQ(text_of(w.s), w.text);
    EXPECT_EQ(string_store_verify(), "");
}

}  // namespace
