#include <gtest/gtest.h>

#include "files/file_fixture.h"
#include "files/path_names.h"

namespace {

TEST(PathNames, SeparatorsAndDrivesMapWithoutLookingAtTheDisk) {
    struct map_case {
        std::string_view name;
        int32_t want;
        const char* path;
    } cases[] = {
        {"a\\b/c.txt", file_ok, "a/b/c.txt"},
        {"C:\\DATA\\X.DAT", file_ok, "/DATA/X.DAT"},
        {"c:/tmp", file_ok, "/tmp"},
        {"C:X.DAT", file_ok, "X.DAT"},
        {"C:", file_ok, "."},
        {"Q:\\X", file_device_unavailable, nullptr},
        {"d:x", file_device_unavailable, nullptr},
        {"1:x", file_ok, "1:x"},
        {std::string_view("a\0b", 3), file_bad_name, nullptr},
        {"", file_ok, ""},
    };
    for (const map_case& c : cases) {
        std::string path = "unchanged";
        EXPECT_EQ(file_name_map(c.name, path), c.want) << c.name;
        if (c.path) {
            EXPECT_EQ(path, c.path) << c.name;
        }
    }
}

using PathCase = file_test;

TEST_F(PathCase, AComponentThatDoesNotExistTakesItsUniqueCaseInsensitiveMatch) {
    ::mkdir(path("sub").c_str(), 0777);
    write_file("sub/F.txt", "x");
    write_file("sub/twin", "1");
    write_file("sub/TWIN", "2");
    struct case_row {
        std::string name, want;
    } cases[] = {
        {dir + "\\SUB\\f.TXT", dir + "/sub/F.txt"},
        {dir + "/sub/F.txt", dir + "/sub/F.txt"},
        {dir + "/SUB/new.txt", dir + "/sub/new.txt"},   // a new file keeps its name in the matched directory
        {dir + "/sub/Twin", dir + "/sub/Twin"},         // two matches: none taken
        {dir + "/sub/twin", dir + "/sub/twin"},         // the exact name wins
        {dir + "/NONE/f.txt", dir + "/NONE/f.txt"},
    };
    for (const case_row& c : cases) {
        std::string fixed;
        EXPECT_EQ(file_name_fix(c.name, fixed), file_ok);
        EXPECT_EQ(fixed, c.want) << c.name;
    }
    std::string caller = dir + "\\SUB\\F.TXT";
    std::string copy = caller;
    int32_t slot = file_handle_open(caller, file_access_read, 0, 0);
    EXPECT_GE(slot, 0);
    EXPECT_EQ(caller, copy);
}

}  // namespace
