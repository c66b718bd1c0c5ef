#include <gtest/gtest.h>

#include "core/error_codes.h"
#include "core/type_codes.h"
#include "runtime_fixture.h"

namespace {

// A two-dimensional array A(1 TO 10, -5 TO 5) and a three-dimensional one whose middle dimension is
// empty; the dimensions lie last first.
TEST(ArrayBounds, EveryDimensionAndEveryRefusal) {
    recorded_boxes boxes;
    array_descriptor_of<2> two{{nullptr, 0, array_allocated, 0, 0}, {{-5, 11, {}}, {1, 10, {}}}};
    array_descriptor_of<3> three{{nullptr, 0, array_allocated, 0, 0}, {{0, 4, {}}, {7, 0, {}}, {2, 3, {}}}};
    array_descriptor_of<2> erased = two;
    erased.header.flags = 0;
    array_descriptor_of<1> extreme{{nullptr, 0, array_allocated, 0, 0}, {{INT32_MIN, 0, {}}}};
    array_descriptor_of<1> top{{nullptr, 0, array_allocated, 0, 0}, {{INT32_MAX, 1, {}}}};
    struct row { const char* name; const array_descriptor* a; int32_t d, n, lower, upper, error; };
    const row rows[] = {
        {"1 to 10", &two.header, 1, 2, 1, 10, 0},
        {"-5 to 5", &two.header, 2, 2, -5, 5, 0},
        {"three, first", &three.header, 1, 3, 2, 4, 0},
        {"three, empty", &three.header, 2, 3, 7, 6, 0},
        {"three, last", &three.header, 3, 3, 0, 3, 0},
        {"dimension 0", &two.header, 0, 2, 0, 0, error_subscript_out_of_range},
        {"dimension 3 of 2", &two.header, 3, 2, 0, 0, error_subscript_out_of_range},
        {"negative", &two.header, -1, 2, 0, 0, error_subscript_out_of_range},
        {"erased", &erased.header, 1, 2, 0, 0, error_subscript_out_of_range},
        {"top index", &top.header, 1, 1, INT32_MAX, INT32_MAX, 0},
    };
    for (const row& r : rows) {
        error_number = 0;
        EXPECT_EQ(array_lower_bound(r.a, r.d, r.n), r.lower) << r.name;
        EXPECT_EQ(error_number, r.error) << r.name;
        error_number = 0;
        EXPECT_EQ(array_upper_bound(r.a, r.d, r.n), r.upper) << r.name;
        EXPECT_EQ(error_number, r.error) << r.name;
    }
    // Both answer while an error is pending.
    error_number = error_overflow;
    EXPECT_EQ(array_upper_bound(&two.header, 1, 2), 10);
    // The highest index of an empty dimension at the lowest bound lies below the 32-bit range.
    error_number = 0;
    EXPECT_EQ(array_lower_bound(&extreme.header, 1, 1), INT32_MIN);
    EXPECT_EQ(array_upper_bound(&extreme.header, 1, 1), 0);
    EXPECT_EQ(error_number, error_overflow);
    error_number = 0;
}

TEST(TypeCodes, Kinds) {
    EXPECT_EQ(type_code_size(0x20000040), 64u);
    EXPECT_TRUE(type_code_is_float(0x20000020));
    EXPECT_TRUE(type_code_is_integer(0x10000010));
    EXPECT_TRUE(type_code_is_unsigned(0x10000010));
    EXPECT_TRUE(type_code_is_string(0x40000200));
    EXPECT_FALSE(type_code_is_float(0x60000000));  // the string bit wins
    EXPECT_EQ(type_code_size(0x20000100), 256u);
}

}  // namespace
