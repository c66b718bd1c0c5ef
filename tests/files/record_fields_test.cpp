#include <gtest/gtest.h>

#include "core/string_functions.h"
#include "files/file_fixture.h"
#include "files/file_open.h"
#include "files/random_access.h"
#include "files/record_fields.h"

namespace {

class RecordFields : public file_test {
protected:
    void SetUp() override {
        file_test::SetUp();
        record_fields_init();
    }
    void TearDown() override {
        for (string_descriptor* s : made_)
            if (s->field_link) field_string_detach(s);
        file_test::TearDown();
    }
    // A string variable whose link the test gives back at its end.
    string_descriptor* variable(uint32_t length = 0) { return made_.emplace_back(string_new(length, 0)); }
    void open_random(std::string_view name, int32_t n, int64_t length) {
        file_open(text(path(name)), open_mode_random, 0, 0, n, length, 1);
        ASSERT_EQ(error_take(), 0);
    }
    std::string buffer(int32_t n) {
        const file_handle_record& r = file_handle_record_of(file_number_slot(n));
        return {reinterpret_cast<const char*>(r.record_buffer), static_cast<size_t>(r.record_length)};
    }
    int32_t count(int32_t n) { return file_handle_record_of(file_number_slot(n)).field_count; }

private:
    std::vector<string_descriptor*> made_;
};

TEST_F(RecordFields, PartsBindConsecutiveBytesUpToTheRecordLength) {
    open_random("r", 1, 10);
    string_descriptor* a = variable();
    string_descriptor* b = variable();
    string_descriptor* c = variable();
    string_descriptor* d = variable();
    EXPECT_EQ(field_begin(1), 10);
    EXPECT_EQ(field_attach(a, 4), 4);
    EXPECT_EQ(field_attach(b, 6), 10);  // exactly the record length
    field_attach(c, 1);
    EXPECT_EQ(error_take(), 50);
    field_attach(d, 1);  // the statement is blocked after its error
    EXPECT_EQ(error_take(), 0);
    EXPECT_EQ(d->field_link, nullptr);
    EXPECT_EQ(a->length, 4);
    EXPECT_EQ(b->length, 6);
    EXPECT_EQ(count(1), 2);

    field_begin(1);
    field_attach(c, INT64_MAX);  // no wrap past the check
    EXPECT_EQ(error_take(), 50);
    field_begin(1);
    field_attach(c, -1);
    EXPECT_EQ(error_take(), 5);
    field_begin(1);
    field_attach(string_from_literal("lit", 3), 2);
    EXPECT_EQ(error_take(), 5);
    field_attach(c, 1);  // blocked: no field_begin since the error
    EXPECT_EQ(c->field_link, nullptr);
}

TEST_F(RecordFields, FieldStatementChecks) {
    file_open(text(path("b")), open_mode_binary, 0, 0, 2, 0, 0);
    ASSERT_EQ(error_take(), 0);
    field_begin(2);
    EXPECT_EQ(error_take(), 54);
    field_begin(-1);
    EXPECT_EQ(error_take(), 54);
    field_begin(3);
    EXPECT_EQ(error_take(), 52);
    string_descriptor* s = variable();
    field_attach(s, 1);
    EXPECT_EQ(s->field_link, nullptr);
}

TEST_F(RecordFields, GetFillsBoundStringsAndAlignedStoresWriteThrough) {
    write_file("r", "ABCDEFGHIJ0123456789");
    open_random("r", 1, 10);
    string_descriptor* a = variable();
    string_descriptor* b = variable(20);
    field_begin(1);
    field_attach(a, 4);
    field_attach(b, 6);
    file_get_record(1, 2, 1);
    EXPECT_EQ(text_of(a), "0123");
    EXPECT_EQ(text_of(b), "456789");

    string_set_left(a, text("xy"));
    EXPECT_EQ(buffer(1).substr(0, 4), "xy  ");
    EXPECT_EQ(text_of(a), "xy  ");
    string_set_right(b, text("zz"));
    EXPECT_EQ(buffer(1).substr(4), "    zz");
    file_put_record(1, 1, 1);
    EXPECT_EQ(error_take(), 0);
    EXPECT_EQ(read_file("r"), "xy      zz0123456789");
}

TEST_F(RecordFields, BindingAgainMovesTheStringAndFreeingDetachesIt) {
    write_file("r", "0123456789");
    open_random("r", 1, 10);
    string_descriptor* a = variable();
    string_descriptor* b = variable();
    field_begin(1);
    field_attach(a, 2);
    field_attach(a, 3);
    EXPECT_EQ(count(1), 1);
    EXPECT_EQ(a->field_link->offset, 2);
    field_attach(b, 5);
    file_get_record(1, 1, 1);
    EXPECT_EQ(text_of(a), "234");
    EXPECT_EQ(text_of(b), "56789");
    string_free(a);
    EXPECT_EQ(count(1), 1);
    file_get_record(1, 1, 1);
    EXPECT_EQ(text_of(b), "56789");
}

TEST_F(RecordFields, LinksGoStaleWhenTheFileIsClosedOrReopened) {
    open_random("r", 1, 4);
    string_descriptor* a = variable();
    field_begin(1);
    field_attach(a, 4);
    file_close(1, 1);
    string_set_left(a, text("ab"));
    EXPECT_EQ(text_of(a), "ab  ");
    EXPECT_EQ(a->field_link, nullptr);

    open_random("r", 1, 4);
    string_descriptor* b = variable();
    field_begin(1);
    field_attach(b, 4);
    file_close(1, 1);
    open_random("r", 1, 4);  // the same number, a new serial
    string_set_left(b, text("cd"));
    EXPECT_EQ(buffer(1), std::string(4, '\0'));
    EXPECT_EQ(b->field_link, nullptr);
}

}  // namespace
