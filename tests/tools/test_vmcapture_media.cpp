// SPDX-License-Identifier: MIT
// vmcapture with the virtual camera and microphone, through both device classes of each: the
// files it writes.
#include <gtest/gtest.h>

#include <cstdlib>
#include <string>
#include <vector>

#include "vmcapture_harness.h"

using namespace vmctest;

namespace {

class MediaTest : public ::testing::TestWithParam<const char*> {
protected:
    ToolRun Capture(std::vector<std::string> args) {
        args.insert(args.begin(), "capture");
        args.insert(args.end(), {"--via", GetParam()});
        return RunTool(args, dir_.Path());
    }
    ScratchDir dir_;
};

TEST_P(MediaTest, CameraFramesBecomeY4m) {
    const ToolRun run =
        Capture({"camera", "0", "--size", "320x240", "--frames", "3", "-o", "c.y4m"});
    ASSERT_EQ(0, run.status) << run.err;
    const Y4m file = ParseY4m(ReadBytes(dir_.File("c.y4m")));
    ASSERT_TRUE(file.wellFormed);
    EXPECT_EQ(320, file.width);
    EXPECT_EQ(240, file.height);
    EXPECT_EQ(3u, file.frames.size());
}

TEST_P(MediaTest, MicrophoneGivesAWavWithItsHeaderFilledIn) {
    const ToolRun run = Capture({"microphone", "--seconds", "0.5", "-o", "m.wav"});
    ASSERT_EQ(0, run.status) << run.err;
    const std::vector<uint8_t> wav = ReadBytes(dir_.File("m.wav"));
    ASSERT_GT(wav.size(), 44u);
    EXPECT_EQ("RIFF", std::string(wav.begin(), wav.begin() + 4));
    EXPECT_EQ(wav.size() - 8, LE32(wav, 4));
    EXPECT_EQ("WAVEfmt ", std::string(wav.begin() + 8, wav.begin() + 16));
    EXPECT_EQ(16u, LE32(wav, 16));
    EXPECT_EQ(1u, LE16(wav, 20)) << "PCM";
    EXPECT_EQ(2u, LE16(wav, 22));
    EXPECT_EQ(44100u, LE32(wav, 24));
    EXPECT_EQ(176400u, LE32(wav, 28));
    EXPECT_EQ(4u, LE16(wav, 32));
    EXPECT_EQ(16u, LE16(wav, 34));
    EXPECT_EQ("data", std::string(wav.begin() + 36, wav.begin() + 40));
    const uint32_t dataSize = LE32(wav, 40);
    EXPECT_EQ(wav.size() - 44, dataSize);
    EXPECT_EQ(88200u, dataSize) << "exactly the 0.5 s of audio asked for";
}

INSTANTIATE_TEST_SUITE_P(Delivery, MediaTest, ::testing::Values("push", "pull"));

}  // namespace
