// The clipboard on a real display, with xclip as the other program.
#include <gtest/gtest.h>

#include <X11/Xlib.h>
#include <signal.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <string>
#include <thread>

#include "platform/clipboard.h"

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
