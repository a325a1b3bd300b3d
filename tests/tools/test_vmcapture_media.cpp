// SPDX-License-Identifier: MIT
// vmcapture with the virtual camera and microphone, through both device classes of each: the
// files it writes, the tone in the audio, and what it says about formats and missing devices.
#include <gtest/gtest.h>
#include <signal.h>

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

TEST_P(MediaTest, MicrophoneGivesAWavOfThe440HzTone) {
    const ToolRun run = Capture({"microphone", "--seconds", "1.5", "-o", "m.wav"});
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
    ASSERT_EQ(wav.size() - 44, dataSize);
    ASSERT_EQ(264600u, dataSize) << "exactly the 1.5 s of audio asked for";

    // Zero crossings of the left channel over the first half second: two per period.
    const size_t samples = 22050;
    int crossings = 0;
    int16_t previous = 0;
    for (size_t i = 0; i < samples; ++i) {
        const auto sample = static_cast<int16_t>(LE16(wav, 44 + i * 4));
        if (i > 0 && (sample < 0) != (previous < 0)) ++crossings;
        previous = sample;
    }
    EXPECT_NEAR(440.0, crossings / 2.0 / 0.5, 5.0);
}

TEST_P(MediaTest, SigintLeavesAWavWithItsSizesFilledIn) {
    const pid_t tool = StartTool(
        {"capture", "microphone", "--via", GetParam(), "--seconds", "60", "-o", "long.wav"},
        dir_.Path());
    ASSERT_GT(tool, 0);
    ASSERT_TRUE(WaitForFileSize(PartFile(dir_.File("long.wav"), tool), 44 + 20000, 30));
    EXPECT_EQ(0, StopTool(tool, SIGINT, 20));
    const std::vector<uint8_t> wav = ReadBytes(dir_.File("long.wav"));
    ASSERT_GT(wav.size(), 44u + 20000);
    EXPECT_EQ(wav.size() - 8, LE32(wav, 4));
    EXPECT_EQ(wav.size() - 44, LE32(wav, 40));
}

TEST_P(MediaTest, MissingDeviceAndMisusedOptionsAreRefused) {
    EXPECT_EQ(3, Capture({"camera", "5", "-o", "c.y4m"}).status);
    EXPECT_EQ(3, Capture({"microphone", "--name", "No such microphone", "-o", "m.wav"}).status);
    EXPECT_EQ(2, Capture({"microphone", "--frames", "3", "-o", "m.wav"}).status);
    EXPECT_EQ(2, Capture({"microphone", "-o", "m.y4m"}).status);
    EXPECT_EQ(2, Capture({"desktop", "-o", "d.y4m"}).status) << "the desktop is only queued";
}

INSTANTIATE_TEST_SUITE_P(Delivery, MediaTest, ::testing::Values("push", "pull"));

TEST(MediaListTest, EachDeviceIsListedOncePerDeliveryMethod) {
    ScratchDir dir;
    const ToolRun run = RunTool({"list", "--kind", "microphone"}, dir.Path());
    ASSERT_EQ(0, run.status) << run.err;
    EXPECT_NE(std::string::npos,
              run.out.find(
                  "AudioDevices             0  microphone audio  push     Vorn Virtual Microphone"))
        << run.out;
    EXPECT_NE(std::string::npos,
              run.out.find(
                  "VoiceDevices             0  microphone audio  pull     Vorn Virtual Microphone"))
        << run.out;
    EXPECT_EQ(std::string::npos, run.out.find("camera")) << "--kind";
}

}  // namespace
