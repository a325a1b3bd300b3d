// SPDX-License-Identifier: MIT
// A display that goes away while a process captures from it: the process carries on, every
// screen call fails, nothing ends it. The capturing process is this test program run again
// against an X server of its own, which the test then stops.
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <thread>

#include "gdicanvas.h"
#include "host/x11/x11.h"
#include "lost_display.h"

namespace {

// One copy of a corner of the screen; false when the display cannot give it.
bool GrabCorner() {
    MemoryCanvas canvas(32, 32);
    return canvas.Screen() != nullptr &&
           BitBlt(canvas.Dc(), 0, 0, 32, 32, canvas.Screen(), 0, 0, SRCCOPY) != FALSE;
}

}  // namespace

// The capturing side: says "up" once it has read the screen, "lost" once reads fail, then
// "done" after more calls that must fail quietly. Exit status 0 when they did.
int RunLostDisplayChild() {
    if (!GrabCorner()) {
        std::printf("no first copy of the screen\n");
        return 1;
    }
    std::printf("up\n");
    std::fflush(stdout);
    const auto end = std::chrono::steady_clock::now() + std::chrono::seconds(10);
    while (GrabCorner() && std::chrono::steady_clock::now() < end) {
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
    }
    std::printf("lost\n");
    std::fflush(stdout);
    // Each later call must fail; the first that does not is named.
    const char* loud = GrabCorner()                                ? "a copy of the screen"
                       : GrabCorner()                              ? "a second copy"
                       : GetDesktopWindow() != nullptr             ? "GetDesktopWindow"
                       : GetTopWindow(nullptr) != nullptr          ? "GetTopWindow"
                       : VornWorld::host::x11::LiveSegments() != 0 ? "shared memory still attached"
                                                                   : nullptr;
    if (loud == nullptr) {
        std::printf("done\n");
    } else {
        std::printf("still succeeds: %s\n", loud);
    }
    std::fflush(stdout);
    return loud == nullptr ? 0 : 1;
}

namespace {

TEST(X11Lost, ALostDisplayBecomesFailuresNotAnExit) {
    int fds[2];
    ASSERT_EQ(0, pipe(fds));
    pid_t server = fork();
    ASSERT_GE(server, 0);
    if (server == 0) {
        close(fds[0]);
        std::string fd = std::to_string(fds[1]);
        execlp("Xvfb", "Xvfb", "-displayfd", fd.c_str(), "-screen", "0", "320x240x24", "-nolisten",
               "tcp", static_cast<char*>(nullptr));
        _exit(127);
    }
    close(fds[1]);
    char number[32] = {};
    // The read end stays open while the server runs: it writes there again when it resets.
    ssize_t got = read(fds[0], number, sizeof number - 1);
    if (got <= 0) {
        close(fds[0]);
        kill(server, SIGKILL);
        waitpid(server, nullptr, 0);
        GTEST_SKIP() << "Xvfb could not be started";
    }

    char self[4096] = {};
    ASSERT_GT(readlink("/proc/self/exe", self, sizeof self - 1), 0);
    std::string command = std::string(kLostDisplayChild) +
                          "=1 VORN_WORLD=host DISPLAY=:" + std::to_string(std::atoi(number)) +
                          " '" + self + "' 2>&1";
    FILE* child = popen(command.c_str(), "r");
    ASSERT_NE(nullptr, child);
    std::string output;
    char line[512];
    while (std::fgets(line, sizeof line, child) != nullptr) {
        output += line;
        if (std::string(line) == "up\n") {
            kill(server, SIGTERM);
            waitpid(server, nullptr, 0);
            server = 0;
        }
    }
    int status = pclose(child);
    if (server > 0) {
        kill(server, SIGKILL);
        waitpid(server, nullptr, 0);
    }
    close(fds[0]);
    EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0) << output;
    // The child's diagnostics share the stream, so only the order of its words is checked.
    const size_t up = output.find("up\n");
    const size_t lost = output.find("lost\n");
    EXPECT_TRUE(up != std::string::npos && lost != std::string::npos && up < lost) << output;
    EXPECT_NE(std::string::npos, output.find("done\n", lost)) << output;
}

}  // namespace
