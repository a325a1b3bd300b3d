// SPDX-License-Identifier: MIT
// vmcapture in the host world records the sound server's sine source: the WAV file is judged
// by sox, not by our own reader.
#include <gtest/gtest.h>

#include <string>

#include "vmcapture_harness.h"

using namespace vmctest;

namespace {

class HostCapture : public ::testing::TestWithParam<const char*> {};

TEST_P(HostCapture, MicrophoneRecordsTheSineSource) {
    ScratchDir dir;
    const ToolRun run = RunTool({"capture", "microphone", "--via", GetParam(), "--bits", "24",
                                 "--rate", "48000", "--seconds", "1.5", "-o", "mic.wav"},
                                dir.Path());
    ASSERT_EQ(0, run.status) << run.err;
    const std::string file = dir.File("mic.wav");
    const auto shell = [&](const std::string& command) {
        return RunShell(command, dir.Path()).out;
    };
    EXPECT_EQ("48000\n2\n24\n", shell("for f in r c p; do sox --i -$f " + file + "; done"));
    // sox's estimate of the left channel's frequency, from its "Rough   frequency:" line.
    const std::string stat = shell("sox " + file + " -n remix 1 stat 2>&1");
    const size_t at = stat.find("Rough   frequency:");
    ASSERT_NE(std::string::npos, at) << stat;
    EXPECT_NEAR(440.0, std::stod(stat.substr(at + 18)), 5.0) << stat;
}

INSTANTIATE_TEST_SUITE_P(Delivery, HostCapture, ::testing::Values("push", "pull"));

}  // namespace
