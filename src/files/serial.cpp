#include "files/serial.h"

#include <fcntl.h>
#include <poll.h>
#include <sys/file.h>
#include <sys/ioctl.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <climits>
#include <cstdlib>
#include <vector>

namespace {

constexpr int64_t number_saturated = int64_t{1} << 40;  // numbers stop growing here
constexpr int32_t option_ms_max = 65535;

bool is_digit(uint8_t c) { return c >= '0' && c <= '9'; }
bool is_upper(uint8_t c) { return c >= 'A' && c <= 'Z'; }
uint8_t upper(uint8_t c) { return (c >= 'a' && c <= 'z') ? static_cast<uint8_t>(c & 0xDF) : c; }

// One item of the option string: its letters, its number and whether it has one.
struct com_item {
    std::string word;
    int64_t number = 0;
    bool has_number = false;
};

// Splits an upper-cased item into word and number; false when it breaks the grammar.
bool item_split(std::string_view text, bool stop_item, com_item& item) {
    for (uint8_t c : text) {
        if (stop_item) {
            if (!is_digit(c) && !is_upper(c) && c != '.') return false;
            item.word += static_cast<char>(c);
        } else if (is_upper(c)) {
            if (item.has_number) return false;  // a letter after a digit
            item.word += static_cast<char>(c);
        } else if (is_digit(c)) {
            if (item.has_number && item.number == 0) return false;  // a second digit after a leading 0
            item.number = std::min(item.number * 10 + (c - '0'), number_saturated);
            item.has_number = true;
        } else {
            return false;
        }
        if (item.word.size() > 3) return false;
    }
    return true;
}

enum : uint32_t { option_rs = 1, option_mode = 2, option_tb = 4, option_rb = 8, option_lf = 16, option_cd = 32,
                  option_cs = 64, option_ds = 128, option_op = 256 };

struct option_kind {
    const char* word;
    uint32_t bit;
};
constexpr option_kind options[] = {{"RS", option_rs}, {"BIN", option_mode}, {"ASC", option_mode}, {"TB", option_tb},
                                   {"RB", option_rb},  {"LF", option_lf},   {"CD", option_cd},    {"CS", option_cs},
                                   {"DS", option_ds},  {"OP", option_op}};

constexpr int32_t not_given = -1;

// An option's time-out: its number (at most 65535), or the default when it has none.
bool option_ms(const com_item& item, int32_t fallback, int32_t& out) {
    if (!item.has_number) return out = fallback, true;
    if (item.number > option_ms_max) return false;
    out = static_cast<int32_t>(item.number);
    return true;
}

bool option_apply(const com_item& item, uint32_t& seen, com_settings& s) {
    if (item.word.empty()) return false;
    const option_kind* kind = std::find_if(std::begin(options), std::end(options),
                                           [&](const option_kind& o) { return item.word == o.word; });
    if (kind == std::end(options) || (seen & kind->bit)) return false;
    seen |= kind->bit;
    switch (kind->bit) {
    case option_rs: s.com_rs = 1; return true;
    case option_mode: s.com_asc = item.word == "ASC"; return true;
    case option_lf: s.com_lf = 1; return true;
    case option_cd: return option_ms(item, 0, s.com_cd_ms);
    case option_cs: return option_ms(item, 1000, s.com_cs_ms);
    case option_ds: return option_ms(item, 1000, s.com_ds_ms);
    case option_op: return option_ms(item, 10000, s.com_op_ms);
    default: return true;  // TB and RB: accepted, no effect
    }
}

bool item_apply(int index, const com_item& item, uint32_t& seen, com_settings& s) {
    switch (index) {
    case 1:  // baud rate
        if (!item.word.empty()) return false;
        if (!item.has_number) return true;
        if (item.number == 0 || item.number > INT32_MAX) return false;
        s.com_baud = static_cast<int32_t>(item.number);
        return true;
    case 2: {  // parity
        if (item.has_number) return false;
        constexpr const char* words[] = {"N", "E", "O", "S", "M", "PE"};
        if (item.word.empty()) return true;
        for (uint8_t p = 0; p < 6; ++p)
            if (item.word == words[p]) return s.com_parity = p, true;
        return false;
    }
    case 3:  // data bits
        if (!item.word.empty()) return false;
        if (!item.has_number) return true;
        if (item.number < 5 || item.number > 8) return false;
        s.com_data_bits = static_cast<uint8_t>(item.number);
        return true;
    case 4:  // stop bits
        if (item.word.empty()) return true;
        if (item.word == "1") return s.com_stop_bits = 10, true;
        if (item.word == "1.5") return s.com_stop_bits = 15, true;
        if (item.word == "2") return s.com_stop_bits = 20, true;
        return false;
    default: return option_apply(item, seen, s);
    }
}

void defaults_fill(com_settings& s) {
    if (s.com_baud == not_given) s.com_baud = 300;
    if (s.com_parity == 0xFF) s.com_parity = com_parity_even;
    if (s.com_data_bits == 0xFF) s.com_data_bits = 7;
    if (s.com_stop_bits == 0xFF)
        s.com_stop_bits = s.com_baud > 110 ? 10 : (s.com_data_bits == 5 ? 15 : 20);
    if (s.com_asc == 0xFF) s.com_asc = 0;
    if (s.com_lf == 0xFF || !s.com_asc) s.com_lf = 0;
    if (s.com_rs == 0xFF) s.com_rs = 0;
    if (s.com_cd_ms == not_given) s.com_cd_ms = 0;
    if (s.com_cs_ms == not_given) s.com_cs_ms = 1000;
    if (s.com_ds_ms == not_given) s.com_ds_ms = 1000;
    if (s.com_op_ms == not_given)
        s.com_op_ms = static_cast<int32_t>(std::min<int64_t>(10 * int64_t{std::max(s.com_cd_ms, s.com_ds_ms)},
                                                             option_ms_max));
}

// The port number of "COMn:": 0 for a file name, -1 for a bad port, else the port.
int32_t port_of(std::string_view name, size_t& colon) {
    if (name.size() < 3 || upper(name[0]) != 'C' || upper(name[1]) != 'O' || upper(name[2]) != 'M') return 0;
    int64_t port = 0;
    bool digits = false;
    for (size_t i = 3; i < name.size(); ++i) {
        auto c = static_cast<uint8_t>(name[i]);
        if (c == ':') {
            colon = i;
            return (!digits || port < 1 || port > 255) ? -1 : static_cast<int32_t>(port);
        }
        if (!is_digit(c) || (!digits && c == '0')) return 0;
        port = std::min<int64_t>(port * 10 + (c - '0'), 256);
        digits = true;
    }
    return 0;  // no colon: a file name
}

constexpr struct {
    int32_t baud;
    speed_t constant;
} speeds[] = {{50, B50},       {75, B75},         {110, B110},       {134, B134},       {150, B150},
              {200, B200},     {300, B300},       {600, B600},       {1200, B1200},     {1800, B1800},
              {2400, B2400},   {4800, B4800},     {9600, B9600},     {19200, B19200},   {38400, B38400},
              {57600, B57600}, {115200, B115200}, {230400, B230400}, {460800, B460800}, {921600, B921600}};

int64_t now_ms() {
    using namespace std::chrono;
    return duration_cast<milliseconds>(steady_clock::now().time_since_epoch()).count();
}

enum class port_wait { ready, timed_out, hung_up };

// Waits until fd is ready for events or the deadline passes.
port_wait wait_ready(int fd, short events, int64_t deadline) {
    for (;;) {
        int64_t left = deadline - now_ms();
        if (left <= 0) return port_wait::timed_out;
        pollfd p{fd, events, 0};
        int r = ::poll(&p, 1, static_cast<int>(std::min<int64_t>(left, INT32_MAX)));
        // Every read or write comes before a wait, so a hang-up seen here left nothing unread.
        if (r > 0) return (p.revents & (POLLHUP | POLLERR | POLLNVAL)) ? port_wait::hung_up : port_wait::ready;
        if (r < 0 && errno != EINTR) return port_wait::hung_up;
    }
}

// Bytes moved so far, file_fault when the other end is gone, or nothing when it is time to stop.
bool port_continue(int fd, short events, int64_t deadline, int64_t& result) {
    switch (wait_ready(fd, events, deadline)) {
    case port_wait::ready: return true;
    case port_wait::hung_up: result = file_fault; return false;
    default: return false;
    }
}

// Moves up to count bytes by move (one read or write call at an offset), waiting for the port
// between calls until the deadline: the bytes moved, or file_fault when the other end is gone.
template <class Move>
int64_t port_transfer(int fd, short events, int64_t count, int32_t timeout_ms, Move move) {
    int64_t deadline = now_ms() + timeout_ms;
    int64_t done = 0;
    while (done < count) {
        ssize_t n = move(done, static_cast<size_t>(std::min<int64_t>(count - done, SSIZE_MAX)));
        if (n > 0) {
            done += n;
            continue;
        }
        if (n < 0 && errno == EINTR) continue;
        if (n < 0 && errno != EAGAIN) return file_fault;  // EIO: the other end hung up
        if (!port_continue(fd, events, deadline, done)) break;
    }
    return done;
}

}  // namespace

int32_t com_spec_parse(std::string_view name, com_settings& s) {
    s.com_port = 0;
    size_t colon = 0;
    int32_t port = port_of(name, colon);
    if (port <= 0) return port;

    com_settings parsed;
    parsed.com_port = 0;
    parsed.com_baud = parsed.com_cd_ms = parsed.com_cs_ms = parsed.com_ds_ms = parsed.com_op_ms = not_given;
    parsed.com_parity = parsed.com_data_bits = parsed.com_stop_bits = 0xFF;
    parsed.com_asc = parsed.com_lf = parsed.com_rs = 0xFF;

    std::string_view rest = name.substr(colon + 1);
    std::string text(rest.size(), ' ');
    std::transform(rest.begin(), rest.end(), text.begin(), [](char c) { return static_cast<char>(upper(c)); });
    uint32_t seen = 0;
    size_t start = 0;
    for (int index = 1; start < text.size(); ++index) {
        size_t comma = text.find(',', start);
        size_t end = comma == std::string::npos ? text.size() : comma;
        com_item item;
        if (!item_split(std::string_view(text).substr(start, end - start), index == 4, item)) return -1;
        if (!item_apply(index, item, seen, parsed)) return -1;
        start = end + 1;
    }
    defaults_fill(parsed);
    parsed.com_port = static_cast<uint8_t>(port);
    s = parsed;
    return 1;
}

bool com_termios_build(const com_settings& s, termios& t) {
    auto speed = std::find_if(std::begin(speeds), std::end(speeds), [&](const auto& e) { return e.baud == s.com_baud; });
    if (speed == std::end(speeds)) return false;
    if (s.com_stop_bits == 15 && s.com_data_bits != 5) return false;
    ::cfmakeraw(&t);
    ::cfsetispeed(&t, speed->constant);
    ::cfsetospeed(&t, speed->constant);
    constexpr tcflag_t sizes[] = {CS5, CS6, CS7, CS8};
    t.c_cflag = (t.c_cflag & ~(CSIZE | CSTOPB | PARENB | PARODD | CMSPAR)) | sizes[s.com_data_bits - 5] | CLOCAL | CREAD;
    if (s.com_stop_bits != 10) t.c_cflag |= CSTOPB;
    switch (s.com_parity) {
    case com_parity_even:
    case com_parity_pe: t.c_cflag |= PARENB; break;
    case com_parity_odd: t.c_cflag |= PARENB | PARODD; break;
    case com_parity_space: t.c_cflag |= PARENB | CMSPAR; break;
    case com_parity_mark: t.c_cflag |= PARENB | CMSPAR | PARODD; break;
    default: break;
    }
    t.c_iflag = s.com_parity == com_parity_none ? (t.c_iflag & ~INPCK) : (t.c_iflag | INPCK);
    if (s.com_rs) t.c_cflag &= ~CRTSCTS;
    t.c_cc[VMIN] = 0;
    t.c_cc[VTIME] = 0;
    return true;
}

std::string com_device_path(int32_t port) {
    std::string name = "LUMO_COM" + std::to_string(port);
    if (const char* device = std::getenv(name.c_str()); device && *device) return device;
    return "/dev/ttyS" + std::to_string(port - 1);
}

int com_open(const com_settings& s, int32_t access) {
    int mode = (access & file_access_write) ? ((access & file_access_read) ? O_RDWR : O_WRONLY) : O_RDONLY;
    std::string path = com_device_path(s.com_port);
    int fd = ::open(path.c_str(), mode | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
    if (fd < 0) return file_device_unavailable;
    termios want{}, got{};
    // One opener at a time: flock holds against every other descriptor, root's too.
    bool ok = ::isatty(fd) && ::flock(fd, LOCK_EX | LOCK_NB) == 0 && ::tcgetattr(fd, &want) == 0 &&
              com_termios_build(s, want) && ::tcsetattr(fd, TCSANOW, &want) == 0 && ::tcgetattr(fd, &got) == 0;
    // A device may refuse a setting silently; read back what matters.
    constexpr tcflag_t checked = CSIZE | CSTOPB | PARENB | PARODD | CMSPAR;
    ok = ok && (got.c_cflag & checked) == (want.c_cflag & checked) && ::cfgetospeed(&got) == ::cfgetospeed(&want);
    if (!ok) {
        ::close(fd);
        return file_device_unavailable;
    }
    if (s.com_rs) {
        int rts = TIOCM_RTS;
        ::ioctl(fd, TIOCMBIC, &rts);  // best effort: a pty has no modem lines
    }
    return fd;
}

int64_t com_read(int fd, uint8_t* buffer, int64_t count, int32_t timeout_ms) {
    return port_transfer(fd, POLLIN, count, timeout_ms, [&](int64_t at, size_t n) { return ::read(fd, buffer + at, n); });
}

int64_t com_write(int fd, const uint8_t* buffer, int64_t count, int32_t timeout_ms) {
    return port_transfer(fd, POLLOUT, count, timeout_ms, [&](int64_t at, size_t n) { return ::write(fd, buffer + at, n); });
}

int64_t com_bytes_waiting(int fd) {
    int n = 0;
    return ::ioctl(fd, FIONREAD, &n) == 0 ? n : 0;
}
