// SPDX-License-Identifier: MIT
// vmcapture's files say what they hold: rates, audio formats and sizes as the independent
// readers (ffprobe, sox) and the harness's own parsers see them; outputs that appear only
// when complete; the virtual devices running on their own clock; exit statuses.
#include <gtest/gtest.h>
#include <signal.h>

#include <algorithm>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "tone.h"
#include "vmcapture_harness.h"

using namespace vmctest;

namespace {

bool Contains(const std::string& text, const std::string& part) {
    return text.find(part) != std::string::npos;
}

double Fraction(const std::string& text) {
    const size_t slash = text.find('/');
    if (slash == std::string::npos) return std::atof(text.c_str());
    const double denominator = std::atof(text.c_str() + slash + 1);
    return denominator == 0 ? 0 : std::atof(text.c_str()) / denominator;
}

// What sox says of a WAV file: "rate bits channels".
std::string SoxFormat(const std::string& dir, const std::string& file) {
    const ToolRun run = RunShell(
        "echo $(soxi -r " + file + ") $(soxi -b " + file + ") $(soxi -c " + file + ")", dir);
    return run.out.substr(0, run.out.find('\n'));
}

struct Wav {
    uint32_t rate = 0, dataSize = 0;
    std::vector<double> left;  // the first channel's samples, -1..1
};
Wav ReadWav(const std::vector<uint8_t>& bytes) {
    Wav wav;
    if (bytes.size() < 44) return wav;
    wav.rate = LE32(bytes, 24);
    wav.dataSize = LE32(bytes, 40);
    wav.left =
        vmc_test::FirstChannel(bytes.data() + 44, std::min<size_t>(wav.dataSize, bytes.size() - 44),
                               LE16(bytes, 34), LE16(bytes, 22));
    return wav;
}

class TruthTest : public ::testing::Test {
protected:
    ToolRun Run(const std::vector<std::string>& args) { return RunTool(args, dir_.Path()); }
    std::string File(const std::string& name) const { return dir_.File(name); }
    ScratchDir dir_;
};

TEST_F(TruthTest, Y4mRateIsTheConnectedOrTheMeasuredRateAndTheShortfallIsReported) {
    // At once: the camera pushed and pulled with 60 frames a second asked (at a size other than
    // its first), pulled with 10, and the screen with 1000.
    const std::vector<std::vector<std::string>> runs = {
        {"capture", "camera", "--via", "push", "-s", "320x240", "-r", "60", "-t", "2", "-o",
         "v.y4m"},
        {"capture", "camera", "--via", "pull", "-s", "320x240", "-r", "60", "-t", "2", "-o",
         "v.y4m"},
        {"capture", "camera", "--via", "pull", "-r", "10", "-t", "2", "-o", "v.y4m"},
        {"capture", "desktop", "-s", "64x48", "-r", "1000", "-t", "2", "-o", "v.y4m"}};
    const std::vector<ScratchDir> dirs(runs.size());
    const std::vector<ToolRun> done = RunTogether(runs, dirs);
    std::vector<double> rates;
    for (size_t i = 0; i < runs.size(); ++i) {
        ASSERT_EQ(0, done[i].status) << done[i].err;
        rates.push_back(Fraction(Probe(dirs[i].Path(), "v.y4m", "r_frame_rate")));
        EXPECT_GT(rates[i], 0) << i;
        if (i != 2) {
            EXPECT_TRUE(Contains(done[i].err, "never produced")) << done[i].err;
        }
    }
    // The camera connects at 30 frames a second at most, whatever is asked: the header says
    // that rate, or less where fewer frames came (one graph a frame is slow), never the 60.
    for (size_t i : {0, 1}) {
        EXPECT_LE(rates[i], 30) << i;
        EXPECT_TRUE(Contains(done[i].err, "connected at 30.0")) << done[i].err;
        const Y4m file = ParseY4m(ReadBytes(dirs[i].File("v.y4m")));
        EXPECT_TRUE(file.wellFormed && file.width == 320 && file.height == 240) << i;
        // The frames span at most the capture's time: played at the header's rate they do too.
        EXPECT_LE((file.frames.size() - 1) / file.rate, 2.2) << i;
    }
    // A pulled camera is asked for frames at the rate asked, below the one it runs at.
    EXPECT_LE(rates[2], 10);
    // The screen cannot keep 1000 frames a second: the header says the measured rate.
    const double frames = std::atof(Probe(dirs[3].Path(), "v.y4m", "nb_read_frames").c_str());
    EXPECT_LT(rates[3], 1000);  // a 1 ms period plus each capture's time stays below the asked rate
    EXPECT_LE((frames - 1) / rates[3], 2.2) << rates[3] << " fps, " << frames << " frames";
    EXPECT_GE(frames / rates[3], 0.8) << rates[3] << " fps, " << frames << " frames";
}

TEST_F(TruthTest, WavHeaderDescribesTheSamplesTheMicrophoneDelivered) {
    const std::vector<std::vector<std::string>> asks = {
        {"--bits", "32"},
        {"--via", "pull", "--rate", "48000", "--channels", "1"},
        {"--via", "pull", "--bits", "24"},
        {"--rate", "96000"},
        {"--rate", "22050"},  // one the device takes
    };
    std::vector<std::vector<std::string>> runs;
    for (const auto& ask : asks) {
        runs.push_back({"capture", "microphone", "-t", "0.5", "-o", "m.wav"});
        runs.back().insert(runs.back().end(), ask.begin(), ask.end());
    }
    const std::vector<ScratchDir> dirs(runs.size());
    const std::vector<ToolRun> done = RunTogether(runs, dirs);
    for (size_t i = 0; i < runs.size(); ++i) {
        const std::string& asked = asks[i][1];
        ASSERT_EQ(0, done[i].status) << done[i].err;
        const bool taken = asked == "22050";
        EXPECT_EQ(taken ? "22050 16 2" : "44100 16 2", SoxFormat(dirs[i].Path(), "m.wav")) << asked;
        EXPECT_EQ(!taken, Contains(done[i].err, "does not take the format")) << done[i].err;
        const Wav wav = ReadWav(ReadBytes(dirs[i].File("m.wav")));
        EXPECT_EQ(wav.rate / 2 * 4, wav.dataSize) << asked << ": exactly the 0.5 s asked";
        // Read at the header's rate the tone is 440 Hz.
        EXPECT_NEAR(440, vmc_test::DominantFrequency(wav.left, wav.rate, 400, 480), 5) << asked;
    }
}

TEST_F(TruthTest, PulledCameraAndMicrophoneRunOnTheirOwnClock) {
    ASSERT_EQ(0,
              Run({"capture", "camera", "--via", "pull", "--frames", "6", "-o", "c.y4m"}).status);
    const Y4m file = ParseY4m(ReadBytes(File("c.y4m")));
    ASSERT_EQ(6u, file.frames.size());
    size_t changes = 0;  // a pull within the same frame period may see the same picture
    for (size_t i = 1; i < file.frames.size(); ++i) changes += file.frames[i - 1] != file.frames[i];
    EXPECT_GE(changes, 3u) << "pulled frames show the running picture, not its first frame";
    // At 22050 Hz a 50 ms buffer holds no whole number of periods: a restarted tone would jump.
    ASSERT_EQ(0, Run({"capture", "microphone", "--via", "pull", "--rate", "22050", "-t", "1.5",
                      "-o", "m.wav"})
                     .status);
    const Wav wav = ReadWav(ReadBytes(File("m.wav")));
    ASSERT_EQ(22050u, wav.rate);
    ASSERT_GT(wav.left.size(), 22050u);
    EXPECT_TRUE(vmc_test::Unbroken(vmc_test::MeasureContinuity(wav.left, 22050, 440), 16));
}

TEST_F(TruthTest, FailedCapturesAndRefusedSizesKeepTheOlderFile) {
    std::ofstream(File("keep.y4m")) << "older";
    const struct {
        std::vector<std::string> args;
        int status;
        const char* message;
    } cases[] = {
        {{"capture", "desktop", "-s", "16384x16384", "--timeout", "1", "-o", "keep.y4m"},
         2,
         "at most 134217728 pixels (11585x11585"},
        {{"capture", "window", "Tiny", "--virtual-window", "Tiny@0,0,10x10", "-o", "keep.y4m"},
         3,
         "delivers nothing"},
        {{"capture", "camera", "3", "-o", "keep.y4m"}, 3, "no such source"},
    };
    for (const auto& c : cases) {
        const ToolRun run = Run(c.args);
        EXPECT_EQ(c.status, run.status) << run.err;
        EXPECT_TRUE(Contains(run.err, c.message)) << run.err;
        EXPECT_EQ("older", ReadText(File("keep.y4m")));
        EXPECT_EQ(std::vector<std::string>({"keep.y4m"}), FilesIn(dir_.Path()));
    }
    // A capture that succeeds replaces it.
    ASSERT_EQ(0,
              Run({"capture", "desktop", "-s", "64x48", "--frames", "2", "-o", "keep.y4m"}).status);
    EXPECT_EQ(2u, ParseY4m(ReadBytes(File("keep.y4m"))).frames.size());
}

TEST_F(TruthTest, DesktopIsTheWholeScreenUnlessARegionIsAsked) {
    const std::pair<std::vector<std::string>, const char*> cases[] = {
        {{}, "1920,1080"}, {{"--virtual-screen", "800x600"}, "800,600"}};
    for (const auto& [extra, size] : cases) {
        std::vector<std::string> args = {"capture", "desktop", "-n", "1", "-o", "d.y4m"};
        args.insert(args.end(), extra.begin(), extra.end());
        ASSERT_EQ(0, Run(args).status) << size;
        EXPECT_EQ(size, Probe(dir_.Path(), "d.y4m", "width,height"));
    }
}

TEST_F(TruthTest, ListShowsWhatEachDeviceAcceptsAndTheListedFormatsAreTaken) {
    const ToolRun run = Run({"list", "--formats"});
    ASSERT_EQ(0, run.status) << run.err;
    for (const char* line : {"YUY2 640x480, 5-30 fps", "I420 1280x720, 5-30 fps",
                             "48000 Hz, 16 bits, 2 channels", "8000 Hz, 8 bits, 1 channel"})
        EXPECT_TRUE(Contains(run.out, line)) << run.out;
    const ToolRun taken = Run({"capture", "microphone", "--via", "pull", "--rate", "8000", "--bits",
                               "8", "--channels", "1", "-t", "1", "-o", "m.wav"});
    ASSERT_EQ(0, taken.status) << taken.err;
    EXPECT_EQ("", taken.err);
    EXPECT_EQ("8000 8 1", SoxFormat(dir_.Path(), "m.wav"));
}

TEST_F(TruthTest, ExitStatusesAndMessagesOfMisuse) {
    const struct {
        std::vector<std::string> args;
        int status;
        const char* message;
    } cases[] = {
        {{"capture", "window", "No such title", "-o", "x.y4m"}, 3, "no such source"},
        {{"capture", "window", "7", "-o", "x.y4m"}, 3, "index 7"},
        {{"capture", "camera", "5", "--via", "push", "-o", "c.y4m"}, 3, ""},
        {{"capture", "microphone", "--name", "No such", "--via", "push", "-o", "m.wav"}, 3, ""},
        {{"capture", "toaster", "-o", "x.y4m"}, 2, "unknown source kind"},
        {{"capture", "desktop"}, 2, "-o FILE"},
        {{"capture", "desktop", "--fps", "0", "-o", "x.y4m"}, 2, "--fps"},
        {{"capture", "desktop", "-o", "x.wav"}, 2, "Y4M or BMP"},
        {{"capture", "desktop", "--via", "push", "-o", "d.y4m"}, 2, ""},
        {{"capture", "microphone", "--frames", "3", "-o", "m.wav"}, 2, ""},
        {{"capture", "microphone", "-o", "m.y4m"}, 2, ""},
        {{"capture", "desktop", "--frobnicate", "-o", "x.y4m"}, 2, "unknown option"},
        {{"capture", "desktop", "-o", "no-such-dir/x.y4m", "--frames", "1"}, 1, "no-such-dir"},
        {{"convert", "missing.bmp", "-o", "x.yuv"}, 1, "missing.bmp"},
        {{"fly"}, 2, "unknown command"},
        {{"list", "--kind", "nosuch"}, 2, "--kind wants"},
        // Options of compressed recordings where they do not apply.
        {{"capture", "desktop", "--audio", "microphone", "-t", "1", "-o", "a.y4m"}, 2, ""},
        {{"capture", "desktop", "--bitrate", "500", "-t", "1", "-o", "a.y4m"}, 2, ""},
        {{"capture", "microphone", "-t", "1", "-o", "a.mkv"}, 2, ""},
        {{"capture", "desktop", "--audio", "speaker", "-t", "1", "-o", "a.mkv"}, 2, ""},
        {{"capture", "desktop", "--audio", "microphone:5", "-t", "1", "-o", "a.mkv"},
         VMCAPTURE_RECORDS ? 3 : 2,
         ""},
        {{"capture", "desktop", "--bitrate", "10", "-t", "1", "-o", "a.mkv"}, 2, ""},
        {{"capture", "desktop", "-t", "1", "-o", "-", "-f", "webm"}, 2, ""},
        {{"capture", "desktop", "-f", "bmp", "-o", "-"}, 2, "not to standard output"},
        {{"capture", "desktop", "-o", "d.avi"}, 2, "cannot tell the output format"},
        {{"capture", "camera", "--via", "sideways", "-o", "c.y4m"}, 2, "push or pull"},
        {{"convert", "p.bmp", "-o", "p.png"}, 2, "-f y4m|i420"},
        {{"convert", "p.bmp", "--size", "4x4", "-o", "p.y4m"}, 2, "--size is for raw input"},
        // Numbers past what their fields hold are refused, not wrapped.
        {{"capture", "desktop", "-n", "18446744073709551616", "-o", "d.y4m"}, 2, "--frames"},
        {{"capture", "desktop", "-s", "4294967360x48", "-o", "d.y4m"}, 2, "--size"},
        {{"capture", "microphone", "--rate", "4294967296000", "-o", "m.wav"}, 2, "--rate"},
        {{"capture", "desktop", "--seconds", "1e999", "-o", "d.y4m"}, 2, "--seconds"},
        {{"convert", "p.rgb", "-s", "65536x65536", "-o", "p.yuv"}, 2, "--size WxH"},
        {{"convert", "p.bmp", "-r", "4294967297", "-o", "p.y4m"}, 2, "--fps"},
    };
    for (const auto& c : cases) {
        const ToolRun run = Run(c.args);
        EXPECT_EQ(c.status, run.status) << c.args[0] << " " << run.err;
        EXPECT_TRUE(Contains(run.err, c.message)) << run.err;
    }
    EXPECT_TRUE(FilesIn(dir_.Path()).empty()) << "a refused command left a file";
    EXPECT_TRUE(Contains(Run({"--version"}).out, "vmcapture 0.1.0"));
    // A reader that goes away ends the tool quietly, with status 1 and not by a signal.
    const ToolRun piped =
        RunShell("vmcapture capture desktop -s 64x48 -t 20 -o - | head -c 100 >/dev/null",
                 dir_.Path(), true);
    EXPECT_EQ(1, piped.status);
    EXPECT_EQ("", piped.err);
}

TEST_F(TruthTest, TwoWindowsOfOneTitleAreReportedWithTheOneTaken) {
    const ToolRun run =
        Run({"capture", "window", "Twin", "--frames", "1", "-o", "w.y4m", "--virtual-window",
             "Twin@0,0,100x80", "--virtual-window", "Twin@200,0,120x80"});
    ASSERT_EQ(0, run.status) << run.err;
    EXPECT_TRUE(
        Contains(run.err, "2 sources are named 'Twin'; capturing the first of them, index 0"))
        << run.err;
}

TEST_F(TruthTest, AKilledWavCaptureKeepsARightHeader) {
    const pid_t tool = StartTool({"capture", "microphone", "-t", "60", "-o", "k.wav"}, dir_.Path());
    ASSERT_GT(tool, 0);
    const std::string part = PartFile(File("k.wav"), tool);
    ASSERT_TRUE(WaitForFileSize(part, 44 + 4 * 8820, 30));
    EXPECT_EQ(-1, StopTool(tool, SIGKILL, 20));
    const std::vector<uint8_t> bytes = ReadBytes(part);
    const Wav wav = ReadWav(bytes);
    EXPECT_EQ(44100u, wav.rate);
    EXPECT_EQ(0u, wav.dataSize % 4) << "whole sample frames";
    EXPECT_LE(wav.dataSize, bytes.size() - 44);
    EXPECT_GE(wav.dataSize + 8820, bytes.size() - 44)
        << "at most the buffer being written is left out";
    EXPECT_EQ(wav.dataSize + 36, LE32(bytes, 4));
    std::filesystem::rename(part, File("k-part.wav"));
    const ToolRun read = RunShell("soxi -s k-part.wav", dir_.Path());
    EXPECT_EQ(std::to_string(wav.dataSize / 4), read.out.substr(0, read.out.find('\n')));
}

}  // namespace
