// Chaining: the name derivation as a table, the tag, the receiver against good and hostile chain
// files, and one real chain from this test program to a copy of itself in another directory.
#include <gtest/gtest.h>

#include <sys/stat.h>
#include <unistd.h>

#include <chrono>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <iterator>
#include <string>
#include <thread>
#include <vector>

#include "core/runtime_fixture.h"
#include "core/strings.h"
#include "files/environment.h"
#include "files/file_handles.h"
#include "runtime/chain.h"
#include "runtime/screen_state.h"
#include "screen/screen_fixture.h"
#include "screen/text_output.h"
#include "screen/width.h"

namespace {

TEST(ChainNames, Table) {
    struct row {
        const char* target;
        const char* exe;
        const char* bas;
        const char* dir;
    };
    const row rows[] = {
        {"prog.bas", "prog.exe", "prog.bas", ""},
        {"prog.BAS x y", "prog.exe x y", "prog.BAS", ""},
        {"prog.EXE a b", "prog.EXE a b", "prog.bas", ""},
        {"prog a", "prog.exe  a", "prog.bas", ""},
        {"prog", "prog.exe ", "prog.bas", ""},
        {"x.y.z", "x.y.z.exe ", "x.y.z.bas", ""},
        {"sub\\prog.bas", "prog.exe", "prog.bas", "sub/"},
        {"sub/deeper/prog.exe 1", "prog.exe 1", "prog.bas", "sub/deeper/"},
        {"C:prog", "prog.exe ", "prog.bas", "C:/"},
        {"../prog.bas", "prog.exe", "prog.bas", "../"},
        {"C:\\v1.2\\prog.bas", "prog.exe", "prog.bas", "C:/v1.2/"},
        {"./x", "x.exe ", "x.bas", "./"},
        {"prog.ba", "prog.ba.exe ", "prog.ba.bas", ""},
    };
    for (const row& r : rows) {
        chain_names n = chain_names_of(r.target);
        EXPECT_EQ(n.exe, r.exe) << r.target;
        EXPECT_EQ(n.bas, r.bas) << r.target;
        EXPECT_EQ(n.dir, r.dir) << r.target;
    }
}

TEST(ChainNames, NumbersAndTag) {
    EXPECT_EQ(chain_number_of(1000.0), 100);
    EXPECT_EQ(chain_number_of(1000.5), 500);
    EXPECT_EQ(chain_number_of(1000.9999), 999);
    EXPECT_EQ(chain_file_name(417), "chain417.tmp");
    EXPECT_EQ(chain_tag_file_of("a b (unique-tag:=/@*$+-)chain417.tmp"), "chain417.tmp");
    EXPECT_EQ(chain_tag_file_of("(unique-tag:=/@*$+-)chain100.tmp"), "chain100.tmp");
    EXPECT_EQ(chain_tag_file_of("(unique-tag:=/@*$+-)chain100.tmq"), "");
    EXPECT_EQ(chain_tag_file_of("(unique-tag:=/@*$+-)chain10.tmp"), "");
    EXPECT_EQ(chain_tag_file_of(""), "");
}

// A runtime in a fresh current directory with a text screen and a file layer.
struct chain_test : screen_test {
    recorded_boxes boxes;
    std::string dir, previous;
    void SetUp() override {
        screen_test::SetUp();
        string_store_reset();
        string_segment_init();
        file_handles_reset();
        startup_strings_make("");
        char pattern[] = "/tmp/lumo-chain-XXXXXX";
        ASSERT_NE(::mkdtemp(pattern), nullptr);
        dir = pattern;
        char cwd[4096];
        previous = ::getcwd(cwd, sizeof cwd);
        ASSERT_EQ(::chdir(dir.c_str()), 0);
        ::mkdir((dir + "/sub").c_str(), 0777);
    }
    void TearDown() override {
        [[maybe_unused]] int rc = ::chdir(previous.c_str());
        std::system(("rm -rf '" + dir + "'").c_str());
        file_handles_reset();
        string_store_reset();
        screen_test::TearDown();
    }
    static void command_line_set(const std::string& line) {
        string_assign(command_line_string, string_temp_from_bytes(line.data(), line.size()));
    }
    static std::string command_line() {
        return std::string(reinterpret_cast<char*>(command_line_string->text), size_t(command_line_string->length));
    }
    static std::string cwd() {
        char buffer[4096];
        return ::getcwd(buffer, sizeof buffer);
    }
    static std::vector<uint8_t> word(int32_t v) {
        std::vector<uint8_t> b(4);
        std::memcpy(b.data(), &v, 4);
        return b;
    }
    void chain_file_put(const std::string& name, int32_t n, const std::string& directory,
                        const std::vector<uint8_t>& stream, bool end_word = true) {
        std::ofstream out(name, std::ios::binary);
        auto put = [&](const std::vector<uint8_t>& b) { out.write(reinterpret_cast<const char*>(b.data()), long(b.size())); };
        put(word(512));
        put(word(n));
        out.write(directory.data(), long(directory.size()));
        put(stream);
        if (end_word) put(word(0));
    }
    static bool exists(const std::string& path) {
        struct stat st;
        return ::stat(path.c_str(), &st) == 0;
    }
};

TEST_F(chain_test, ReceiveRebuildsScreenChangesDirectoryAndStripsTheTag) {
    print_string(string_from_cstring("handed over"), 1);
    std::vector<uint8_t> stream = screen_state_bytes();
    screen_pages_reset();
    dos_memory_clear();
    string_store_reset();
    string_segment_init();
    startup_strings_make("");
    screen_mode_set(0, 0, 0, 0, 0, 1);
    chain_file_put("chain417.tmp", int32_t((dir + "/sub").size()), dir + "/sub", stream);
    command_line_set("one two (unique-tag:=/@*$+-)chain417.tmp");
    chain_receive();
    EXPECT_EQ(error_number.load(), 0);
    EXPECT_EQ(cwd(), dir + "/sub");
    EXPECT_FALSE(exists(dir + "/chain417.tmp"));
    EXPECT_EQ(command_line(), "one two");
    EXPECT_EQ(text_rows(page(0), 1, 1)[0].substr(0, 11), "handed over");
}

TEST_F(chain_test, TagAloneLeavesAnEmptyCommandLine) {
    chain_file_put("chain100.tmp", 0, "", screen_state_bytes());
    command_line_set("(unique-tag:=/@*$+-)chain100.tmp");
    chain_receive();
    EXPECT_EQ(command_line(), "");
}

TEST_F(chain_test, HostileChainFilesChangeNoDirectory) {
    std::vector<uint8_t> stream = screen_state_bytes();
    struct hostile {
        const char* name;
        int32_t n;
        std::string directory;
        size_t keep;  // bytes of the stream kept
        bool write;
    };
    const hostile cases[] = {
        {"n = 5000", 5000, std::string(5000, 'x'), stream.size(), true},
        {"n = -1", -1, "", stream.size(), true},
        {"truncated", int32_t((dir + "/sub").size()), dir + "/sub", 100, true},
        {"missing", 0, "", 0, false},
    };
    for (const hostile& h : cases) {
        if (h.write)
            chain_file_put("chain555.tmp", h.n, h.directory, std::vector<uint8_t>(stream.begin(), stream.begin() + long(h.keep)),
                           h.keep == stream.size());
        command_line_set("arg (unique-tag:=/@*$+-)chain555.tmp");
        chain_receive();
        EXPECT_NE(error_number.exchange(0), 0) << h.name;
        EXPECT_EQ(cwd(), dir) << h.name;
        EXPECT_EQ(command_line(), "arg") << h.name;
        EXPECT_FALSE(exists(dir + "/chain555.tmp")) << h.name;
        file_handles_reset();
    }
}

TEST_F(chain_test, FailedChainDeletesItsFileAndRaises53) {
    EXPECT_NO_THROW(chain_start(string_from_cstring("sub/nothing-here.exe")));
    EXPECT_EQ(error_number.exchange(0), 53);
    for (const char* where : {"", "/sub"})
        for (int k = 100; k <= 999; ++k)
            ASSERT_FALSE(exists(dir + where + "/" + chain_file_name(k))) << where << k;
    chain_start(string_from_cstring(""));
    EXPECT_EQ(error_number.exchange(0), 53);
}

// The target side of the real chain: runs only when started by the chaining test.
TEST_F(chain_test, ChildReceives) {
    const char* result = std::getenv("LUMO_CHAIN_RESULT");
    if (!result) GTEST_SKIP() << "started only by the chaining test";
    std::ifstream in("/proc/self/cmdline", std::ios::binary);
    std::string all{std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
    std::vector<std::string> args;
    for (size_t at = 0; at < all.size(); at = all.find('\0', at) + 1) args.push_back(all.substr(at, all.find('\0', at) - at));
    std::string line;
    for (size_t i = 1; i < args.size(); ++i) line += (i > 1 ? " " : "") + args[i];
    command_line_set(line);
    ASSERT_EQ(::chdir(previous.c_str()), 0);  // where the chaining program started this one
    std::string start_dir = cwd();
    chain_receive();
    std::string report;
    if (error_number.load() != 0) report += "error " + std::to_string(error_number.load()) + ";";
    if (cwd() != start_dir) report += "directory " + cwd() + ";";
    if (command_line() != args[1]) report += "command line '" + command_line() + "';";
    if (text_rows(page(0), 1, 1)[0].substr(0, 7) != "chained") report += "screen;";
    if (page(0).height != 43) report += "grid;";
    std::ofstream(result) << (report.empty() ? "ok" : report);
}

TEST_F(chain_test, TwoProcessesChain) {
    char self[4096];
    ssize_t n = ::readlink("/proc/self/exe", self, sizeof self - 1);
    ASSERT_GT(n, 0);
    self[n] = 0;
    ASSERT_EQ(::symlink(self, (dir + "/sub/target").c_str()), 0);
    std::string result = dir + "/sub/result";
    env_set(string_from_cstring(("LUMO_CHAIN_RESULT=" + result).c_str()));
    screen_width_set(0, 80, 43, 3);
    print_string(string_from_cstring("chained"), 1);
    ASSERT_EQ(error_number.load(), 0);
    EXPECT_THROW(chain_start(string_from_cstring("sub/target --gtest_filter=chain_test.ChildReceives")), parked);
    env_set(string_from_cstring("LUMO_CHAIN_RESULT="));
    ASSERT_EQ(error_number.load(), 0);
    // The chained process starts and reports on a machine that may be loaded: only a hang runs out.
    constexpr auto report_bound = std::chrono::seconds(120);
    std::string report;
    for (auto end = std::chrono::steady_clock::now() + report_bound;
         std::chrono::steady_clock::now() < end; std::this_thread::sleep_for(std::chrono::milliseconds(20))) {
        std::ifstream in(result);
        if (std::getline(in, report) && !report.empty()) break;
    }
    EXPECT_EQ(report, "ok");
}

}  // namespace
