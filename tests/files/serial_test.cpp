#include <gtest/gtest.h>

#include <fcntl.h>
#include <poll.h>
#include <stdlib.h>

#include <chrono>
#include <iterator>
#include <set>
#include <sstream>

#include "core/byte_span.h"
#include "files/file_fixture.h"
#include "files/file_internal.h"
#include "files/file_open.h"
#include "files/random_access.h"
#include "files/serial.h"

namespace {

struct parse_case {
    const char* name;
    int32_t answer;
    com_settings want;  // compared whole when the answer is 1
};

// port, baud, parity, data, stop, asc, lf, rs, cd, cs, ds, op
constexpr com_settings plain(uint8_t port, int32_t baud = 300, uint8_t parity = com_parity_even, uint8_t data = 7,
                             uint8_t stop = 10) {
    return {port, baud, parity, data, stop, 0, 0, 0, 0, 1000, 1000, 10000};
}
constexpr com_settings with(com_settings s, uint8_t asc, uint8_t lf, uint8_t rs, int32_t cd, int32_t cs, int32_t ds,
                            int32_t op) {
    s.com_asc = asc, s.com_lf = lf, s.com_rs = rs, s.com_cd_ms = cd, s.com_cs_ms = cs, s.com_ds_ms = ds, s.com_op_ms = op;
    return s;
}

TEST(ComSpec, ParseTableFillsTheWholeSettings) {
    const com_settings none{};
    const parse_case cases[] = {
        {"COM1:", 1, plain(1)},
        {"com2:9600,n,8,1", 1, plain(2, 9600, com_parity_none, 8)},
        {"COM1:110", 1, plain(1, 110, com_parity_even, 7, 20)},
        {"COM1:110,,5", 1, plain(1, 110, com_parity_even, 5, 15)},
        {"COM1:75,,,1", 1, plain(1, 75, com_parity_even, 7, 10)},
        {"COM1:1200,N,8,1.5", 1, plain(1, 1200, com_parity_none, 8, 15)},
        {"COM1:,,,2", 1, plain(1, 300, com_parity_even, 7, 20)},
        {"COM1:,PE", 1, plain(1, 300, com_parity_pe)},
        {"COM1:,M,6", 1, plain(1, 300, com_parity_mark, 6)},
        {"COM255:9600,N,8,1,RS,CS0,DS0", 1, with(plain(255, 9600, 0, 8), 0, 0, 1, 0, 0, 0, 0)},
        {"COM1:9600,N,8,1,DS", 1, with(plain(1, 9600, 0, 8), 0, 0, 0, 0, 1000, 1000, 10000)},
        {"COM1:,,,,ASC,LF", 1, with(plain(1), 1, 1, 0, 0, 1000, 1000, 10000)},
        {"COM1:,,,,LF", 1, plain(1)},
        {"COM1:,,,,BIN,TB,RB", 1, plain(1)},
        {"COM1:,,,,CD2000", 1, with(plain(1), 0, 0, 0, 2000, 1000, 1000, 20000)},
        {"COM1:,,,,CD9000", 1, with(plain(1), 0, 0, 0, 9000, 1000, 1000, 65535)},
        {"COM1:,,,,OP", 1, plain(1)},
        {"COM1:,,,,OP5,DS0", 1, with(plain(1), 0, 0, 0, 0, 1000, 0, 5)},
        {"COM1:9600,", 1, plain(1, 9600)},
        {"COM1:9600,N,8,1,DS70000", -1, none},
        {"COM1:9600,N,8,1,RS,RS", -1, none},
        {"COM1:9600,N,8,1,BIN,ASC", -1, none},
        {"COM1:9600,X", -1, none},
        {"COM1:9600,N,9", -1, none},
        {"COM1:0", -1, none},
        {"COM1:09600", -1, none},
        {"COM1:96.00", -1, none},
        {"COM1:96A", -1, none},
        {"COM1:9600,N,8,1,,", -1, none},
        {"COM1:9600,N,8,1,5", -1, none},
        {"COM1:9600,N,8,1,XY", -1, none},
        {"COM1:9600,N,8,3", -1, none},
        {"COM1:9600,NONE", -1, none},
        {"COM1:4294967296", -1, none},
        {"COM1:9600,N,8,1,CS99999999999", -1, none},
        {"COM256:", -1, none},
        {"COM:", -1, none},
        {"COM99999999999:", -1, none},
        {"COM4294967297:", -1, none},
        {"COM0:", 0, none},
        {"COM01:", 0, none},
        {"COM1", 0, none},
        {"COMX:", 0, none},
        {"CO", 0, none},
        {"data.txt", 0, none},
    };
    for (const parse_case& c : cases) {
        com_settings got{};
        got.com_port = 99;
        EXPECT_EQ(com_spec_parse(c.name, got), c.answer) << c.name;
        if (c.answer != 1) {
            EXPECT_EQ(got.com_port, 0) << c.name;
            continue;
        }
        const com_settings& w = c.want;
        EXPECT_EQ(std::tuple(got.com_port, got.com_baud, got.com_parity, got.com_data_bits, got.com_stop_bits),
                  std::tuple(w.com_port, w.com_baud, w.com_parity, w.com_data_bits, w.com_stop_bits))
            << c.name;
        EXPECT_EQ(std::tuple(got.com_asc, got.com_lf, got.com_rs, got.com_cd_ms, got.com_cs_ms, got.com_ds_ms,
                             got.com_op_ms),
                  std::tuple(w.com_asc, w.com_lf, w.com_rs, w.com_cd_ms, w.com_cs_ms, w.com_ds_ms, w.com_op_ms))
            << c.name;
    }
}

TEST(ComSpec, SettingsBecomeTermios) {
    struct termios_case {
        com_settings settings;
        bool ok;
        tcflag_t cflag;  // of CSIZE, CSTOPB, PARENB, PARODD, CMSPAR
        bool input_check;
    } cases[] = {
        {plain(1, 9600, com_parity_odd, 8, 20), true, CS8 | CSTOPB | PARENB | PARODD, true},
        {plain(1, 9600, com_parity_none, 8, 10), true, CS8, false},
        {plain(1, 300, com_parity_even, 7, 10), true, CS7 | PARENB, true},
        {plain(1, 300, com_parity_pe, 7, 10), true, CS7 | PARENB, true},
        {plain(1, 300, com_parity_space, 6, 10), true, CS6 | PARENB | CMSPAR, true},
        {plain(1, 300, com_parity_mark, 7, 10), true, CS7 | PARENB | CMSPAR | PARODD, true},
        {plain(1, 110, com_parity_even, 5, 15), true, CS5 | CSTOPB | PARENB, true},
        {plain(1, 1200, com_parity_none, 8, 15), false, 0, false},
        {plain(1, 12345), false, 0, false},
    };
    constexpr tcflag_t shown = CSIZE | CSTOPB | PARENB | PARODD | CMSPAR;
    for (const termios_case& c : cases) {
        termios t{};
        t.c_cflag = CRTSCTS | PARODD;
        ASSERT_EQ(com_termios_build(c.settings, t), c.ok);
        if (!c.ok) continue;
        EXPECT_EQ(t.c_cflag & shown, c.cflag);
        EXPECT_EQ((t.c_iflag & INPCK) != 0, c.input_check);
        EXPECT_EQ(t.c_cflag & (CLOCAL | CREAD), CLOCAL | CREAD);
        EXPECT_EQ(cfgetospeed(&t), c.settings.com_baud == 9600 ? B9600 : cfgetospeed(&t));
        EXPECT_EQ(t.c_cc[VMIN], 0);
        EXPECT_EQ(t.c_lflag & ICANON, 0u);
    }
    termios t{};
    t.c_cflag = CRTSCTS;
    com_settings rs = plain(1);
    rs.com_rs = 1;
    ASSERT_TRUE(com_termios_build(rs, t));
    EXPECT_EQ(t.c_cflag & CRTSCTS, 0u);
}

// A pty pair stands in for port 3: the runtime opens the slave through LUMO_COM3.
class SerialPort : public file_test {
protected:
    void SetUp() override {
        file_test::SetUp();
        master = ::posix_openpt(O_RDWR | O_NOCTTY | O_CLOEXEC);
        ASSERT_GE(master, 0);
        ASSERT_EQ(::grantpt(master), 0);
        ASSERT_EQ(::unlockpt(master), 0);
        slave = ::ptsname(master);
        termios t{};
        ::tcgetattr(master, &t);
        ::cfmakeraw(&t);
        ::tcsetattr(master, TCSANOW, &t);
        ::setenv("LUMO_COM3", slave.c_str(), 1);
    }
    void TearDown() override {
        file_test::TearDown();
        if (master >= 0) ::close(master);
        ::unsetenv("LUMO_COM3");
        ::unsetenv("LUMO_COM4");
    }
    int32_t open(std::string_view device, int32_t mode, int32_t n) {
        file_open(text(device), mode, 0, 0, n, 0, 0);
        return error_take();
    }
    std::string stty() {
        std::string command = "stty -F " + slave + " -a";
        FILE* p = ::popen(command.c_str(), "r");
        std::string out(4096, '\0');
        out.resize(std::fread(out.data(), 1, out.size(), p));
        ::pclose(p);
        return out;
    }
    // One byte through GET: the byte, or -1 at the end; the time it took in ms.
    int get_byte(int32_t n, int64_t& ms) {
        char c = 0;
        byte_span s{};
        byte_span_set(byte_span_low(&c), byte_span_high(&c), 1, &s);
        auto start = std::chrono::steady_clock::now();
        file_get_bytes(n, 0, &s, 0);
        ms = std::chrono::duration_cast<std::chrono::milliseconds>(std::chrono::steady_clock::now() - start).count();
        return file_eof(n) ? -1 : static_cast<uint8_t>(c);
    }
    void master_write(std::string_view bytes) {
        ASSERT_EQ(::write(master, bytes.data(), bytes.size()), static_cast<ssize_t>(bytes.size()));
    }
    // The bytes waiting at port n once bytes written at the other end have come (a pty hands them
    // on a moment later, all of one write at once).
    int64_t loc_when_come(int32_t n) {
        pollfd p{file_os_of(file_number_slot(n)).fd, POLLIN, 0};
        ::poll(&p, 1, static_cast<int>(std::chrono::milliseconds(hang_bound).count()));
        return file_loc(n);
    }

    int master = -1;
    std::string slave;
};

TEST_F(SerialPort, OpensWithItsSettingsAndReadsWithinTheDataSetReadyTimeOut) {
    ASSERT_EQ(open("COM3:19200,N,8,2,DS200", open_mode_binary, 1), 0);
    std::string settings = stty();
    EXPECT_NE(settings.find("speed 19200 baud"), std::string::npos) << settings;
    std::istringstream words(settings);
    std::set<std::string> flags{std::istream_iterator<std::string>(words), std::istream_iterator<std::string>()};
    for (const char* flag : {"-parenb", "cs8", "cstopb", "-inpck", "-icanon", "clocal", "-opost"})
        EXPECT_TRUE(flags.contains(flag)) << flag << settings;

    int64_t ms = 0;
    EXPECT_EQ(get_byte(1, ms), -1);
    EXPECT_EQ(error_take(), 0);
    EXPECT_GE(ms, 150);
    EXPECT_LT(std::chrono::milliseconds(ms), sleep_taking(std::chrono::milliseconds(600)));  // not the 1000 ms default
    master_write("X");
    EXPECT_EQ(get_byte(1, ms), 'X');
    EXPECT_EQ(file_eof(1), 0);

    master_write("hello");
    EXPECT_EQ(loc_when_come(1), 5);
    EXPECT_EQ(file_length(1), 0);
    EXPECT_EQ(error_take(), 54);
    file_seek(1, 1);
    EXPECT_EQ(error_take(), 54);

    EXPECT_EQ(open("COM3:19200,N,8,2", open_mode_binary, 2), 68);  // held by #1
    EXPECT_EQ(file_number_state(2), 0);
}

TEST_F(SerialPort, WritesReachTheOtherEndAndBytesWaitingBeforeAnInputOpenAreKept) {
    master_write("AB");
    ASSERT_EQ(open("COM3:9600,N,8,1,DS0", open_mode_input, 1), 0);
    char two[2];
    EXPECT_EQ(file_handle_read(file_number_slot(1), -1, two, 2), 0);
    EXPECT_EQ(std::string(two, 2), "AB");
    auto start = std::chrono::steady_clock::now();
    EXPECT_EQ(file_handle_read(file_number_slot(1), -1, two, 1), file_at_end);  // DS0: at once
    auto took = std::chrono::steady_clock::now() - start;
    EXPECT_LT(took, sleep_taking(std::chrono::milliseconds(100)));
    file_close(1, 1);

    ASSERT_EQ(open("COM3:9600,N,8,1", open_mode_binary, 1), 0);
    char out[] = {'o', 'k', 26};
    byte_span s{};
    byte_span_set(byte_span_low(out), byte_span_high(out), 3, &s);
    file_put_bytes(1, 0, &s, 0);
    EXPECT_EQ(error_take(), 0);
    char got[3] = {};
    pollfd p{master, POLLIN, 0};
    ASSERT_EQ(::poll(&p, 1, 1000), 1);
    EXPECT_EQ(::read(master, got, 3), 3);
    EXPECT_EQ(std::string(got, 3), std::string(out, 3));
}

TEST_F(SerialPort, ReopensAfterCloseAndAHungUpPortIsAnErrorWithoutAHang) {
    // A time-out longer than the bound that only a hang reaches: a hang-up seen only at its end fails.
    ASSERT_EQ(open("COM3:9600,N,8,1,DS60000", open_mode_binary, 1), 0);
    file_close(1, 1);
    ASSERT_EQ(open("COM3:9600,N,8,1,DS60000", open_mode_binary, 1), 0);
    ::close(master);
    master = -1;
    int64_t ms = 0;
    get_byte(1, ms);
    EXPECT_EQ(error_take(), 75);
    EXPECT_LT(std::chrono::milliseconds(ms), hang_bound);
}

TEST_F(SerialPort, DevicesThatCannotServeAreUnavailable) {
    ::setenv("LUMO_COM4", "/nonexistent/tty", 1);
    EXPECT_EQ(open("COM4:", open_mode_binary, 1), 68);
    write_file("plain", "x");
    ::setenv("LUMO_COM4", path("plain").c_str(), 1);
    EXPECT_EQ(open("COM4:", open_mode_binary, 1), 68);
    // A pty keeps 8 data bits and no parity whatever is asked: the read-back sees the refusal.
    EXPECT_EQ(open("COM3:9600,N,5,1", open_mode_binary, 1), 68);
    EXPECT_EQ(open("COM3:9600,O,8,1", open_mode_binary, 1), 68);
    EXPECT_EQ(open("COM3:9600,N,9,1", open_mode_binary, 1), 64);
    EXPECT_EQ(open("COM3:12345", open_mode_binary, 1), 68);
    EXPECT_EQ(com_device_path(7), "/dev/ttyS6");
}

}  // namespace

#include "files/sequential.h"

namespace {

TEST_F(SerialPort, ByteTwentySixIsDataOnABinaryPortAndTheEndOnAText) {
    ASSERT_EQ(open("COM3:9600,N,8,1,DS200", open_mode_input, 1), 0);
    master_write("\x1a" "A");
    EXPECT_EQ(file_read_byte(file_number_slot(1)), 26);
    EXPECT_EQ(file_read_byte(file_number_slot(1)), 'A');
    file_close(1, 1);
    ASSERT_EQ(open("COM3:9600,N,8,1,ASC,DS200", open_mode_input, 1), 0);
    master_write("\x1a");
    int32_t slot = file_number_slot(1);
    EXPECT_EQ(file_read_byte(slot), file_byte_end);
    EXPECT_EQ(file_read_byte(slot), file_byte_end);  // the marker stays, kept by the port's slot
    EXPECT_EQ(error_take(), 0);
}

}  // namespace
