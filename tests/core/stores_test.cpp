#include <gtest/gtest.h>

#include <cstring>
#include <string>

#include "core/stores.h"
#include "core/string_functions.h"
#include "core/string_fixture.h"

namespace {

// A record of the program's own type: a numeric field and a fixed-length string field.
struct stock_record {
    double price = 0;
    char name[6] = {};
};

class Stores : public string_store_test {
protected:
    // An error of the statement, pending until the test clears it.
    void error_begin() { error_raise(5); }
    void error_end() { error_number = 0; }
};

// Each kind of string target: a variable, an element of a string array, a record's fixed-length field.
enum class target_kind { variable, array_element, record_field };

struct string_store_case {
    const char* name;
    target_kind kind;
    bool error;
    const char* want;
};

TEST_F(Stores, AStringTargetKeepsItsValueWhileAnErrorIsPending) {
    const string_store_case cases[] = {
        {"variable", target_kind::variable, false, "new"},
        {"variable, error", target_kind::variable, true, "old"},
        {"array element", target_kind::array_element, false, "new"},
        {"array element, error", target_kind::array_element, true, "old"},
        {"record field", target_kind::record_field, false, "new   "},
        {"record field, error", target_kind::record_field, true, "old   "},
    };
    for (const auto& c : cases)
        for (string_kind source_kind : all_string_kinds) {
            stock_record record;
            std::memcpy(record.name, "old   ", sizeof record.name);
            string_descriptor* elements[2] = {variable("other"), variable("old")};
            string_descriptor* target = c.kind == target_kind::variable        ? variable("old")
                                        : c.kind == target_kind::array_element ? elements[1]
                                                                               : string_fixed_view(record.name, 6, 0);
            uint32_t mark = string_temp_top();
            string_descriptor* source = make(source_kind, "new");
            if (c.error) error_begin();
            EXPECT_EQ(string_assign(target, source), target);
            error_end();
            EXPECT_EQ(text_of(target), c.want) << c.name;
            EXPECT_EQ(text_of(elements[0]), "other") << c.name;
            // A temporary source is consumed either way; a variable stays as it was.
            EXPECT_EQ(string_temp_top(), mark) << c.name;
            if (source_kind == string_kind::variable) {
                EXPECT_EQ(text_of(source), "new") << c.name;
            }
            EXPECT_EQ(string_store_verify(), "") << c.name;
        }
}

// A temporary given as its own target is not freed by the store that does nothing: the statement's
// release frees it once.
TEST_F(Stores, ATemporaryStoredIntoItselfWhileAnErrorIsPendingStaysForTheRelease) {
    uint32_t mark = string_temp_top();
    string_descriptor* t = make(string_kind::disposable, "kept");
    error_begin();
    string_assign(t, t);
    error_end();
    EXPECT_GT(string_temp_top(), mark);  // still registered
    EXPECT_EQ(text_of(t), "kept");
    EXPECT_EQ(string_store_verify(), "");
    string_temps_release(mark, 0);
    EXPECT_EQ(string_temp_top(), mark);
    EXPECT_EQ(string_store_verify(), "");
}

// The runtime's own store goes on: what a READ or an INPUT hands its target after raising an error.
TEST_F(Stores, TheRuntimesOwnStoreStoresWhileAnErrorIsPending) {
    string_descriptor* target = variable("old");
    error_begin();
    string_assign_always(target, literal("new"));
    error_end();
    EXPECT_EQ(text_of(target), "new");
}

TEST_F(Stores, ANumberTargetKeepsItsValueWhileAnErrorIsPending) {
    for (bool error : {false, true}) {
        int16_t count = 7;
        float elements[3] = {1, 2, 3};
        stock_record record{.price = 2.5};
        if (error) error_begin();
        number_store(count, 32767);
        number_store(elements[1], 0.5f);
        number_store(record.price, 9.75);
        error_end();
        EXPECT_EQ(count, error ? 7 : 32767) << error;
        EXPECT_EQ(elements[0], 1) << error;
        EXPECT_EQ(elements[1], error ? 2 : 0.5f) << error;
        EXPECT_EQ(elements[2], 3) << error;
        EXPECT_EQ(record.price, error ? 2.5 : 9.75) << error;
    }
}

// SWAP is a store of both its targets: an element out of range (error 9) gives a scratch element,
// and neither target changes.
TEST_F(Stores, SwapKeepsBothTargetsWhileAnErrorIsPending) {
    for (bool error : {false, true}) {
        string_descriptor* a = variable("left");
        string_descriptor* b = variable("right");
        double x = 1.5, y = -2;
        if (error) error_begin();
        string_swap(a, b);
        memory_swap(&x, &y, sizeof x);
        error_end();
        EXPECT_EQ(text_of(a), error ? "left" : "right") << error;
        EXPECT_EQ(text_of(b), error ? "right" : "left") << error;
        EXPECT_EQ(x, error ? 1.5 : -2) << error;
        EXPECT_EQ(y, error ? -2 : 1.5) << error;
        EXPECT_EQ(string_store_verify(), "") << error;
    }
}

}  // namespace
