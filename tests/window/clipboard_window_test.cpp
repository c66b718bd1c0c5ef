// The clipboard on a real display, with xclip as the other program.
#include <gtest/gtest.h>

#include <X11/Xlib.h>
#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <string>
#include <thread>

#include "platform/clipboard.h"
#include "platform/clipboard_text.h"

namespace {

using namespace std::chrono_literals;

std::string command_output(const std::string& command) {
    std::string out;
    if (FILE* p = popen(command.c_str(), "r")) {
        char buffer[4096];
        size_t n;
        while ((n = fread(buffer, 1, sizeof buffer, p)) > 0) out.append(buffer, n);
        pclose(p);
    }
    return out;
}

bool xclip_present() { return system("command -v xclip >/dev/null 2>&1") == 0; }

// Every byte but NUL, which ends the clipboard's text.
std::string bytes_1_to_255() {
    std::string bytes;
    for (int b = 1; b < 256; ++b) bytes += static_cast<char>(b);
    return bytes;
}

// Holds the clipboard with a window of its own, to see the moment another program takes it.
class clipboard_watch {
public:
    clipboard_watch() : display_(XOpenDisplay(nullptr)) {
        if (!display_) return;
        Window window = XCreateSimpleWindow(display_, DefaultRootWindow(display_), 0, 0, 1, 1, 0, 0, 0);
        XSetSelectionOwner(display_, XInternAtom(display_, "CLIPBOARD", False), window, CurrentTime);
        XSync(display_, False);
    }
    ~clipboard_watch() {
        if (display_) XCloseDisplay(display_);
    }
    // Blocks until another program takes the clipboard; false when none has within the time.
    bool taken_wait(std::chrono::milliseconds timeout = 30000ms) {  // only a hang runs out
        if (!display_) return false;
        auto deadline = std::chrono::steady_clock::now() + timeout;
        for (;;) {
            while (XPending(display_)) {
                XEvent e;
                XNextEvent(display_, &e);
                if (e.type == SelectionClear) return true;
            }
            auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - std::chrono::steady_clock::now());
            if (left.count() <= 0) return false;
            pollfd fd{ConnectionNumber(display_), POLLIN, 0};
            poll(&fd, 1, static_cast<int>(left.count()));
        }
    }

private:
    Display* display_;
};

// xclip holding the clipboard with bytes of one type (which it gives whatever form is asked for),
// until the end of the scope.
class xclip_owner {
public:
    xclip_owner(const std::string& type, const std::string& bytes) {
        char path[] = "/tmp/lumo-clipboard-XXXXXX";
        int fd = mkstemp(path);
        if (fd < 0) return;
        bool written = write(fd, bytes.data(), bytes.size()) == static_cast<ssize_t>(bytes.size());
        close(fd);
        if (written) pid_ = fork();
        if (pid_ == 0) {
            int null = open("/dev/null", O_RDWR);
            dup2(null, 1);
            dup2(null, 2);
            execlp("xclip", "xclip", "-i", "-selection", "clipboard", "-quiet", "-t", type.c_str(), path, nullptr);
            _exit(127);
        }
        path_ = path;
    }
    ~xclip_owner() {
        if (pid_ > 0) {
            kill(pid_, SIGTERM);
            waitpid(pid_, nullptr, 0);
        }
        if (!path_.empty()) unlink(path_.c_str());
    }

private:
    pid_t pid_ = -1;
    std::string path_;
};

TEST(ClipboardWindow, XclipReadsOurTextAndWeReadItsText) {
    if (!xclip_present()) GTEST_SKIP() << "xclip is not installed";
    ASSERT_TRUE(platform::clipboard_text_set("caf\xe9 1"));
    EXPECT_EQ(command_output("xclip -o -selection clipboard -t STRING"), "caf\xe9 1");
    EXPECT_EQ(command_output("xclip -o -selection clipboard"), "caf\xc3\xa9 1");  // UTF-8 when asked so

    // xclip takes the selection in the foreground; its process id comes back through the shell.
    std::string pid = command_output("printf 'from xclip \\303\\244' | xclip -i -selection clipboard -quiet "
                                     ">/dev/null 2>&1 & echo $!");
    std::string got;
    for (int i = 0; i < 50 && got.empty(); ++i) {
        std::this_thread::sleep_for(50ms);
        got = platform::clipboard_text_get();
        if (got == "caf\xe9 1") got.clear();  // xclip has not taken it yet
    }
    EXPECT_EQ(got, "from xclip \xe4");
    kill(std::stoi(pid), SIGTERM);
}

// A reply is read by the type the owner gives it, not by the form asked for.
TEST(ClipboardWindow, WeReadEachTypeOfReplyInItsOwnEncoding) {
    if (!xclip_present()) GTEST_SKIP() << "xclip is not installed";
    struct reply_case {
        const char* type;
        std::string bytes, want;
    };
    const std::string all = bytes_1_to_255();
    const reply_case cases[] = {
        {"STRING", all, all},
        {"STRING", "ab\xe9" "cd ok", "ab\xe9" "cd ok"},
        {"UTF8_STRING", platform::utf8_of_latin1(all), all},
        {"UTF8_STRING", "\xe2\x82\xac 5 \xe9t\xe9 ok", "? 5 ?t? ok"},
        {"COMPOUND_TEXT", all, all},
        {"TEXT", all, all},
        {"text/plain;charset=utf-8", "caf\xc3\xa9", "caf\xe9"},  // a type of no rule: read as asked, UTF-8
    };
    for (const reply_case& c : cases) {
        clipboard_watch watch;
        xclip_owner xclip(c.type, c.bytes);
        ASSERT_TRUE(watch.taken_wait()) << c.type << ": xclip did not take the clipboard";
        EXPECT_EQ(platform::clipboard_text_get(), c.want) << c.type;
    }
}

TEST(ClipboardWindow, XclipReadsEveryByteOfOurTextInTheFormItAsks) {
    if (!xclip_present()) GTEST_SKIP() << "xclip is not installed";
    const std::string all = bytes_1_to_255();
    ASSERT_TRUE(platform::clipboard_text_set(all));
    EXPECT_EQ(command_output("xclip -o -selection clipboard -t STRING"), all);
    EXPECT_EQ(command_output("xclip -o -selection clipboard -t TEXT"), all);
    EXPECT_EQ(command_output("xclip -o -selection clipboard -t UTF8_STRING"), platform::utf8_of_latin1(all));
}

TEST(ClipboardWindow, AnOwnerThatNeverAnswersGivesEmptyTextInHalfASecond) {
    Display* display = XOpenDisplay(nullptr);
    ASSERT_NE(display, nullptr);
    Window window = XCreateSimpleWindow(display, DefaultRootWindow(display), 0, 0, 1, 1, 0, 0, 0);
    XSetSelectionOwner(display, XInternAtom(display, "CLIPBOARD", False), window, CurrentTime);
    XSync(display, False);  // and then never reads its events
    auto start = std::chrono::steady_clock::now();
    EXPECT_EQ(platform::clipboard_text_get(), "");
    auto took = std::chrono::steady_clock::now() - start;
    EXPECT_GE(took, 400ms);
    EXPECT_LT(took, 1500ms);
    XCloseDisplay(display);
}

}  // namespace
