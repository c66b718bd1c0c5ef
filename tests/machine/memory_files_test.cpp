#include <gtest/gtest.h>

#include <cstdio>
#include <deque>
#include <unistd.h>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "core/memory.h"
#include "core/runtime_fixture.h"
#include "core/strings.h"
#include "machine/memory_files.h"

namespace {

namespace fs = std::filesystem;

class MemoryFiles : public ::testing::Test {
protected:
    void SetUp() override {
        dos_memory_reset();
        dir_ = fs::temp_directory_path() / ("lumo_memory_files_" + std::to_string(::getpid()));
        fs::create_directories(dir_);
    }
    void TearDown() override { fs::remove_all(dir_); }

    // A program string naming a file in the test's directory.
    string_descriptor* name(const std::string& path) {
        names_.push_back(path);
        string_descriptor& s = descriptors_.emplace_back();
        s.text = reinterpret_cast<uint8_t*>(names_.back().data());
        s.length = static_cast<int32_t>(names_.back().size());
        return &s;
    }
    string_descriptor* file(const std::string& leaf) { return name((dir_ / leaf).string()); }
    std::vector<uint8_t> bytes_of(const std::string& leaf) {
        std::ifstream in(dir_ / leaf, std::ios::binary);
        return {std::istreambuf_iterator<char>(in), {}};
    }
    void write_file(const std::string& leaf, const std::vector<uint8_t>& bytes) {
        std::ofstream out(dir_ / leaf, std::ios::binary);
        out.write(reinterpret_cast<const char*>(bytes.data()), static_cast<std::streamsize>(bytes.size()));
    }
    static int32_t raised() { return error_number.exchange(0); }

    fs::path dir_;
    std::deque<std::string> names_;
    std::deque<string_descriptor> descriptors_;
    recorded_boxes boxes;
};

TEST_F(MemoryFiles, SixteenBytesMakeATwentyThreeByteImage) {
    for (int i = 0; i < 16; ++i) dos_memory[0x500 + 0x100 + i] = static_cast<uint8_t>(0xC0 + i);
    segment_save_file(file("a.bin"), 0x100, 16);
    std::vector<uint8_t> got = bytes_of("a.bin");
    ASSERT_EQ(got.size(), 23u);
    EXPECT_EQ(std::vector<uint8_t>(got.begin(), got.begin() + 7), (std::vector<uint8_t>{0xFD, 0x50, 0, 0, 1, 0x10, 0}));
    EXPECT_EQ(got[7], 0xC0);
    EXPECT_EQ(got[22], 0xCF);

    dos_memory_clear();
    segment_load_file(file("a.bin"), 0, 0);  // back where it came from
    EXPECT_EQ(dos_memory[0x600], 0xC0);
    EXPECT_EQ(dos_memory[0x60F], 0xCF);

    dos_memory_clear();
    segment_select(0x2000, 1);
    segment_load_file(file("a.bin"), -65536 + 0x10, 1);  // an offset ignores the header's address
    EXPECT_EQ(dos_memory[0x20010], 0xC0);
    EXPECT_EQ(dos_memory[0x600], 0);
    EXPECT_EQ(raised(), 0);
}

TEST_F(MemoryFiles, AWholeSegmentWritesCountZeroAndReloadsWhole) {
    segment_select(0x3000, 1);
    for (uint32_t i = 0; i < 65536; ++i) dos_memory[0x30000 + i] = static_cast<uint8_t>(i * 7);
    segment_save_file(file("full.bin"), 0, 65536);
    std::vector<uint8_t> got = bytes_of("full.bin");
    ASSERT_EQ(got.size(), 65543u);
    EXPECT_EQ(got[5], 0);
    EXPECT_EQ(got[6], 0);
    dos_memory_clear();
    segment_load_file(file("full.bin"), 0, 0);
    for (uint32_t i = 0; i < 65536; ++i) ASSERT_EQ(dos_memory[0x30000 + i], static_cast<uint8_t>(i * 7)) << i;
    EXPECT_EQ(raised(), 0);
}

TEST_F(MemoryFiles, EmptyImageLoadsNothing) {
    segment_save_file(file("empty.bin"), 0x10, 0);
    EXPECT_EQ(bytes_of("empty.bin").size(), 7u);
    dos_memory[0x510] = 9;
    segment_load_file(file("empty.bin"), 0, 0);
    EXPECT_EQ(dos_memory[0x510], 9);
    EXPECT_EQ(raised(), 0);
}

TEST_F(MemoryFiles, LengthsAndOffsetsOutOfRange) {
    dos_memory[0x500 + 0xFFFF] = 0x42;
    segment_save_file(file("neg.bin"), -1, -1);  // offset FFFF, 65535 bytes
    std::vector<uint8_t> got = bytes_of("neg.bin");
    ASSERT_EQ(got.size(), 7u + 65535);
    EXPECT_EQ(got[7], 0x42);
    for (auto [offset, length] : {std::pair{65536, 1}, {-65537, 1}, {0, 65537}, {0, -65537}}) {
        segment_save_file(file("bad.bin"), offset, length);
        EXPECT_EQ(raised(), 6);
    }
    EXPECT_FALSE(fs::exists(dir_ / "bad.bin"));
    segment_load_file(file("neg.bin"), 65536, 1);
    EXPECT_EQ(raised(), 6);
}

TEST_F(MemoryFiles, BadFilesRaiseAndChangeNothing) {
    std::vector<uint8_t> before(dos_memory, dos_memory + dos_memory_size);
    write_file("marker.bin", {0xFE, 0x50, 0, 0, 0, 1, 0, 1});
    segment_load_file(file("marker.bin"), 0, 0);
    EXPECT_EQ(raised(), 54);
    write_file("short.bin", {0xFD, 0x50, 0, 0, 0});
    segment_load_file(file("short.bin"), 0, 0);
    EXPECT_EQ(raised(), 54);
    segment_load_file(file("missing.bin"), 0, 0);
    EXPECT_EQ(raised(), 53);
    EXPECT_TRUE(std::equal(before.begin(), before.end(), dos_memory));

    write_file("cut.bin", {0xFD, 0x50, 0, 0x20, 0, 4, 0, 0xA1, 0xA2});  // says 4 bytes, holds 2
    segment_load_file(file("cut.bin"), 0, 0);
    EXPECT_EQ(raised(), 54);
    EXPECT_EQ(dos_memory[0x520], 0xA1) << "the bytes read stay";
    EXPECT_EQ(dos_memory[0x521], 0xA2);
    EXPECT_EQ(dos_memory[0x522], 0);
}

TEST_F(MemoryFiles, CountZeroLoadsAtMostOneSegment) {
    // A 200 KB body under a count of 0 aimed at 1000:8000: 65,536 bytes wrap within the segment.
    std::vector<uint8_t> image{0xFD, 0x00, 0x10, 0x00, 0x80, 0, 0};
    for (uint32_t i = 0; i < 200 * 1024; ++i) image.push_back(static_cast<uint8_t>(1 + i % 251));
    write_file("big.bin", image);
    dos_memory[0x0FFFF] = 0xEE;
    dos_memory[0x20000] = 0xEE;
    segment_load_file(file("big.bin"), 0, 0);
    EXPECT_EQ(raised(), 0);
    EXPECT_EQ(dos_memory[0x18000], 1);
    EXPECT_EQ(dos_memory[0x1FFFF], static_cast<uint8_t>(1 + 0x7FFF % 251));
    EXPECT_EQ(dos_memory[0x10000], static_cast<uint8_t>(1 + 0x8000 % 251));
    EXPECT_EQ(dos_memory[0x0FFFF], 0xEE);
    EXPECT_EQ(dos_memory[0x20000], 0xEE);

    // A count of 0 over a body shorter than a segment is an empty image.
    image.resize(7 + 100);
    write_file("small.bin", image);
    dos_memory_clear();
    segment_load_file(file("small.bin"), 0, 0);
    EXPECT_EQ(raised(), 0);
    EXPECT_EQ(dos_memory[0x18000], 0);
}

TEST_F(MemoryFiles, TheTopSegmentWrapsAndStaysInsideMemory) {
    segment_select(0xFFFF, 1);
    for (uint32_t i = 0; i < 0x100; ++i) dos_memory[0xFFFF0 + ((0xFFF0 + i) & 0xFFFF)] = static_cast<uint8_t>(i + 1);
    segment_save_file(file("top.bin"), 0xFFF0, 0x100);
    std::vector<uint8_t> got = bytes_of("top.bin");
    ASSERT_EQ(got.size(), 7u + 0x100);
    EXPECT_EQ(got[7 + 0x10], 0x11) << "offset 0 of the segment follows FFFF";
    dos_memory_clear();
    segment_load_file(file("top.bin"), 0, 0);
    EXPECT_EQ(dos_memory[0x10FFEF], 0x10);
    EXPECT_EQ(dos_memory[0xFFFF0], 0x11);
    EXPECT_EQ(dos_memory[0x10FFF0], 0);
    EXPECT_EQ(raised(), 0);
}

TEST_F(MemoryFiles, WriteFailuresAreReported) {
    segment_save_file(name("/dev/full"), 0, 4096);
    EXPECT_EQ(raised(), 75);
    segment_save_file(file("no/such/dir.bin"), 0, 1);
    EXPECT_EQ(raised(), 64);
}

TEST_F(MemoryFiles, BackslashesSeparateDirectories) {
    fs::create_directories(dir_ / "sub");
    dos_memory[0x500] = 0x5A;
    segment_save_file(name(dir_.string() + "\\sub\\x.bin"), 0, 1);
    EXPECT_EQ(raised(), 0);
    EXPECT_EQ(bytes_of("sub/x.bin").size(), 8u);
}

}  // namespace
