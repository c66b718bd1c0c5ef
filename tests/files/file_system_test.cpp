#include <gtest/gtest.h>

#include <dirent.h>
#include <sys/statvfs.h>

#include <algorithm>
#include <set>

#include "files/file_fixture.h"
#include "files/file_open.h"
#include "files/file_system.h"
#include "screen/screen_fixture.h"

namespace {

TEST(Wildcards, OldRules) {
    struct wildcard_case {
        const char* pattern;
        std::string name;
        bool match;
    } cases[] = {
        {"*.TXT", "a.txt", true},   {"*.TXT", "B.TXT", true},   {"*.TXT", "c.dat", false},
        {"*.*", "README", true},    {"*.*", "a.b", true},       {"*.", "README", true},
        {"*.", "a.txt", false},     {"?.TXT", "a.txt", true},   {"?.TXT", "ab.txt", false},
        {"*", ".bashrc", true},     {"A*B*C", "axxbyyc", true}, {"A*B*C", "axxbyy", false},
        {"**", "", true},           {"x", "X", true},           {"*a*a*a*a*a*a*a*a*b", std::string(200, 'a'), false},
    };
    for (const wildcard_case& c : cases) EXPECT_EQ(wildcard_match(c.pattern, c.name), c.match) << c.pattern << " " << c.name;
}

TEST(ListingCells, EightThreeNamesAlignAndOthersPrintWhole) {
    struct cell_case {
        const char* name;
        bool directory;
        const char* cell;
    } cases[] = {
        {"readme.txt", false, "README  .TXT      "},
        {"data", true, "DATA        <DIR> "},
        {".", true, "        .   <DIR> "},
        {"..", true, "        ..  <DIR> "},
        {"A.HTML", false, "A.HTML            "},
        {"ABCDEFGHI.X", false, "ABCDEFGHI.X       "},
        {".bashrc", false, ".BASHRC           "},
        {"a-much-longer-name.text", false, "A-MUCH-LONGER-NAME.TEXT      "},
        {"ABCDEFGH.XYZ", false, "ABCDEFGH.XYZ      "},
    };
    for (const cell_case& c : cases) EXPECT_EQ(listing_cell(c.name, c.directory), c.cell) << c.name;
}

class FileSystem : public file_test {
protected:
    std::set<std::string> names() {
        std::set<std::string> out;
        DIR* d = ::opendir(dir.c_str());
        while (dirent* e = ::readdir(d))
            if (std::string(e->d_name) != "." && std::string(e->d_name) != "..") out.insert(e->d_name);
        ::closedir(d);
        return out;
    }
    int32_t kill(std::string_view pattern) {
        file_kill(text(dir + "/" + std::string(pattern)));
        return error_take();
    }
    int32_t rename(std::string_view from, std::string_view to) {
        file_rename(text(path(from)), text(path(to)));
        return error_take();
    }
};

TEST_F(FileSystem, KillDeletesWhatMatchesAndStopsAtARefusal) {
    for (const char* n : {"a.txt", "B.TXT", "c.dat", "README", ".hidden"}) write_file(n, "x");
    ::mkdir(path("sub.txt").c_str(), 0777);
    EXPECT_EQ(kill("*.TXT"), 0);
    EXPECT_EQ(names(), (std::set<std::string>{"c.dat", "README", ".hidden", "sub.txt"}));
    EXPECT_EQ(kill("*."), 0);
    EXPECT_EQ(names(), (std::set<std::string>{"c.dat", ".hidden", "sub.txt"}));
    EXPECT_EQ(kill("sub.*"), 53);  // only a directory
    EXPECT_EQ(kill("none*"), 53);
    EXPECT_EQ(kill("q/*"), 53);

    write_file("k1.dat", "1");
    write_file("k2.dat", "2");
    int32_t slot = file_handle_open(path("k2.dat"), file_access_read, 0, 0);
    EXPECT_EQ(kill("k*.dat"), 55);
    EXPECT_FALSE(exists("k1.dat"));
    EXPECT_EQ(read_file("k2.dat"), "2");
    file_handle_close(slot);
    ::chmod(path("k2.dat").c_str(), 0444);
    EXPECT_EQ(kill("k2.dat"), 55);
    EXPECT_TRUE(exists("k2.dat"));
    file_kill(text(std::string(path("c.dat")) + std::string("\0", 1)));
    EXPECT_EQ(error_take(), 64);
    file_kill(text("Q:\\x"));
    EXPECT_EQ(error_take(), 68);
}

// Another handle holds the file only for writing, FOR OUTPUT or FOR APPEND: KILL and NAME refuse
// it and it stays where it is.
TEST_F(FileSystem, KillAndNameRefuseAFileHeldOnlyForWriting) {
    for (int32_t mode : {open_mode_output, open_mode_append}) {
        write_file("held", "x");
        file_open(text(path("held")), mode, open_access_none, open_lock_none, 1, 0, 0);
        ASSERT_EQ(error_take(), 0) << mode;
        EXPECT_EQ(kill("held"), 55) << mode;
        EXPECT_EQ(rename("held", "moved"), 75) << mode;
        EXPECT_TRUE(exists("held")) << mode;
        EXPECT_FALSE(exists("moved")) << mode;
        file_close(1, 1);
    }
}

TEST_F(FileSystem, RenameNeverReplacesAndKeepsBothFilesOnRefusal) {
    write_file("a.txt", "source");
    write_file("b.txt", "target");
    EXPECT_EQ(rename("a.txt", "b.txt"), 5);
    EXPECT_EQ(rename("a.txt", "B.TXT"), 5);  // only the case differs from an existing file
    EXPECT_EQ(read_file("b.txt"), "target");
    EXPECT_EQ(rename("a.txt", "A.TXT"), 0);  // a new case for the same file
    EXPECT_EQ(read_file("A.TXT"), "source");
    EXPECT_EQ(rename("missing", "x"), 53);
    int32_t slot = file_handle_open(path("A.TXT"), file_access_read, 0, 0);
    EXPECT_EQ(rename("A.TXT", "c.txt"), 75);
    file_handle_close(slot);
    EXPECT_EQ(rename("A.TXT", "c.txt"), 0);
    EXPECT_EQ(read_file("c.txt"), "source");
}

TEST_F(FileSystem, DirectoryStatementsAndExistenceTests) {
    auto run = [&](void (*statement)(string_descriptor*), std::string_view name) {
        statement(text(path(name)));
        return error_take();
    };
    EXPECT_EQ(run(dir_make, "d"), 0);
    EXPECT_EQ(run(dir_make, "d"), 75);
    EXPECT_EQ(run(dir_make, "none/d"), 76);
    write_file("d/f", "x");
    EXPECT_EQ(run(dir_remove, "d"), 75);
    EXPECT_EQ(run(dir_remove, "missing"), 76);
    EXPECT_EQ(run(dir_change, "missing"), 76);
    EXPECT_EQ(run(dir_change, "d/f"), 76);
    ::symlink(path("gone").c_str(), path("broken").c_str());
    struct exists_case {
        const char* name;
        int32_t file, directory;
    } cases[] = {{"d/f", -1, 0}, {"d", 0, -1}, {"D", 0, -1}, {"missing", 0, 0}, {"broken", 0, 0}};
    for (const exists_case& c : cases) {
        EXPECT_EQ(file_exists(text(path(c.name))), c.file) << c.name;
        EXPECT_EQ(dir_exists(text(path(c.name))), c.directory) << c.name;
    }
    char here[4096];
    ASSERT_NE(::getcwd(here, sizeof here), nullptr);
    EXPECT_EQ(run(dir_change, "D"), 0);
    EXPECT_EQ(file_exists(text("F")), -1);
    EXPECT_EQ(::chdir(here), 0);
    ::unlink(path("d/f").c_str());
    EXPECT_EQ(run(dir_remove, "d"), 0);
}

struct FileListing : screen_test {
    void SetUp() override {
        screen_test::SetUp();
        char pattern[] = "/tmp/lumo-files-XXXXXX";
        ASSERT_NE(::mkdtemp(pattern), nullptr);
        dir = pattern;
    }
    void TearDown() override {
        std::system(("rm -rf '" + dir + "'").c_str());
        screen_test::TearDown();
    }
    void touch(const std::string& name) { std::fclose(std::fopen((dir + "/" + name).c_str(), "w")); }
    std::string dir;
};

TEST_F(FileListing, ListsCellsFourToARowAndTheFreeBytes) {
    for (const char* n : {"readme.txt", "a.bas", "b.bas", "c.bas"}) touch(n);
    ::mkdir((dir + "/data").c_str(), 0777);
    std::string pattern = dir + "/";
    file_list(string_from_literal(pattern.data(), static_cast<int32_t>(pattern.size())), 1);
    EXPECT_EQ(error_number.exchange(0), 0);
    std::vector<std::string> rows = text_rows(page(0), 1, 5);
    char cwd[4096];
    ASSERT_NE(::getcwd(cwd, sizeof cwd), nullptr);
    std::string here = cwd;
    std::transform(here.begin(), here.end(), here.begin(), ::toupper);
    EXPECT_EQ(rows[0].substr(0, here.size()), here);
    EXPECT_EQ(rows[1], listing_cell(".", true) + listing_cell("..", true) + listing_cell("a.bas", false) +
                           listing_cell("b.bas", false) + std::string(8, ' '));
    EXPECT_EQ(rows[2].substr(0, 54), listing_cell("c.bas", false) + listing_cell("data", true) +
                                          listing_cell("readme.txt", false));
    struct statvfs fs;
    ASSERT_EQ(::statvfs(dir.c_str(), &fs), 0);
    std::string free_line = rows[3].substr(0, rows[3].find_last_not_of(' ') + 1);
    ASSERT_EQ(free_line.substr(free_line.size() - 11), " Bytes free");
    double reported = std::stod(free_line.substr(1));
    double actual = static_cast<double>(fs.f_bavail) * static_cast<double>(fs.f_frsize);
    EXPECT_NEAR(reported, actual, actual * 0.01 + 1e6);  // other writers may change it meanwhile
}

TEST_F(FileListing, NoMatchPrintsTheDirectoryLineThenRaises53) {
    std::string pattern = dir + "/*.none";
    file_list(string_from_literal(pattern.data(), static_cast<int32_t>(pattern.size())), 1);
    EXPECT_EQ(error_number.exchange(0), 53);
    EXPECT_NE(text_rows(page(0), 1, 1)[0].find('/'), std::string::npos);
}

}  // namespace
