// SPDX-License-Identifier: MIT
// Which world vmcapture captures when nobody says: the machine's own where it has a display or
// a sound server, the virtual one elsewhere, and one line on standard error saying which and
// why. A choice made on the command line or in VORN_WORLD is taken without that line.
#include <gtest/gtest.h>

#include <string>

#include "vmcapture_harness.h"

using namespace vmctest;

namespace {

struct WorldCase {
    const char* environment;  // set for the run, after every variable that decides is unset
    const char* arguments;
    const char* notice;  // expected in standard error ("" for none)
    const char* world;   // the first line of the list
};

class WorldChoice : public ::testing::TestWithParam<WorldCase> {};

TEST_P(WorldChoice, IsSaidAndTaken) {
    const WorldCase& c = GetParam();
    ScratchDir dir;
    // Displays and buses that do not exist: listing the host world then finds no screen (and
    // asks no real desktop for one), but the world chosen is what is checked.
    const std::string command =
        std::string("env -u VORN_WORLD -u DISPLAY -u WAYLAND_DISPLAY -u PULSE_SERVER ") +
        "XDG_RUNTIME_DIR='" + dir.Path() + "' DBUS_SESSION_BUS_ADDRESS='unix:path=" + dir.Path() +
        "/no-bus' " + c.environment + " vmcapture list --kind desktop " + c.arguments;
    const ToolRun run = RunShell(command, dir.Path());
    EXPECT_EQ(0, run.status) << run.err;
    EXPECT_EQ(0u, run.out.rfind(std::string("World: ") + c.world, 0)) << run.out;
    if (*c.notice == '\0') {
        EXPECT_EQ(std::string::npos, run.err.find("capturing the")) << run.err;
    } else {
        EXPECT_NE(std::string::npos, run.err.find(c.notice)) << run.err;
        EXPECT_EQ(run.err.find('\n'), run.err.rfind('\n')) << "one line: " << run.err;
    }
}

INSTANTIATE_TEST_SUITE_P(
    Auto, WorldChoice,
    ::testing::Values(WorldCase{"", "", "capturing the virtual world (no display", "virtual"},
                      WorldCase{"DISPLAY=:97", "", "capturing the host world (DISPLAY=:97 is set)",
                                "host (X display :97)"},
                      WorldCase{"WAYLAND_DISPLAY=vmc-none", "",
                                "capturing the host world (WAYLAND_DISPLAY=vmc-none is set)",
                                "host (Wayland session"},
                      WorldCase{"PULSE_SERVER=unix:/nonexistent/socket", "",
                                "capturing the virtual world (no display", "virtual"},
                      WorldCase{"DISPLAY=:97", "--world virtual", "", "virtual"},
                      WorldCase{"VORN_WORLD=virtual DISPLAY=:97", "", "", "virtual"}));

// The host world asked for where it has no display: the screen and its windows are refused at
// once, with the variables looked at, whatever the output.
TEST(HostWorldWithoutDisplay, SaysThereIsNoDisplay) {
    for (const char* capture : {"desktop -o d.y4m", "desktop -s 64x48 -o d.y4m", "window -o w.y4m",
                                "desktop -s 64x48 -o d.mkv"}) {
        ScratchDir dir;
        const ToolRun run = RunShell("env -u DISPLAY -u WAYLAND_DISPLAY vmcapture capture " +
                                         std::string(capture) + " --world host -n 1",
                                     dir.Path());
        EXPECT_EQ(3, run.status) << capture << ": " << run.err;
        EXPECT_NE(std::string::npos,
                  run.err.find("no display: neither WAYLAND_DISPLAY nor DISPLAY is set"))
            << capture << ": " << run.err;
    }
}

// The example hosts say which world they capture, and, where nothing came, what to try.
TEST(ExampleHosts, SayTheirWorldAndWhatToTryWhenNothingCame) {
    for (const char* example : {"queue_host", "pull_host", "callback_host"}) {
        SCOPED_TRACE(example);
        ScratchDir dir;
        if (RunShell(std::string("command -v ") + example, dir.Path()).status != 0) continue;
        const ToolRun virtualRun =
            RunShell(std::string("VORN_WORLD=virtual ") + example, dir.Path());
        EXPECT_EQ(0, virtualRun.status) << virtualRun.err;
        EXPECT_NE(std::string::npos, virtualRun.err.find("of the virtual world (VORN_WORLD"))
            << virtualRun.err;
        // A host world with nothing in it: no display, no session bus, no sound server.
        const ToolRun hostRun = RunShell(
            "env -u DISPLAY -u WAYLAND_DISPLAY -u PULSE_SERVER VORN_WORLD=host XDG_RUNTIME_DIR='" +
                dir.Path() + "' DBUS_SESSION_BUS_ADDRESS='unix:path=" + dir.Path() + "/no-bus' " +
                example,
            dir.Path());
        EXPECT_NE(std::string::npos, hostRun.err.find("of the host world")) << hostRun.err;
        EXPECT_NE(std::string::npos,
                  hostRun.err.find("VORN_WORLD=virtual captures the virtual world's test sources."))
            << hostRun.err;
    }
}

// A recording goes through the GStreamer elements, which choose a world of their own when
// asked nothing: in the tool's process they take the one the tool chose.
TEST(RecordingWorld, IsTheWorldTheToolChose) {
    if (!VMCAPTURE_RECORDS) GTEST_SKIP() << "vmcapture was built without GStreamer";
    ScratchDir dir;
    // A display is named (auto would take the host world), the virtual one is asked for.
    const ToolRun run = RunShell(
        "env -u VORN_WORLD DISPLAY=:97 vmcapture capture desktop --world virtual -s 64x48 -n 3 "
        "-o a.mkv",
        dir.Path());
    EXPECT_EQ(0, run.status) << run.err;
}

}  // namespace
