// SPDX-License-Identifier: MIT
// vmcapture's compressed recordings (.mkv, .mp4, .webm), judged by ffprobe: both streams there,
// starting together, as long as asked and as each other, and every frame the rate promises
// either in the file or reported missing.
#include <gtest/gtest.h>

#include <cstdio>
#include <cstdlib>
#include <map>
#include <regex>
#include <sstream>
#include <string>
#include <vector>

#include "vmcapture_harness.h"

using namespace vmctest;

namespace {

struct StreamSpan {
    std::string codec;
    double first = 1e9, end = -1e9;  // seconds: the first packet's time, the last one's end
    int packets = 0;
};

// Each stream of the file by its index, from ffprobe's list of streams and packets.
std::map<int, StreamSpan> ProbeStreams(const std::string& dir, const std::string& file) {
    std::map<int, StreamSpan> streams;
    const ToolRun codecs =
        RunShell("ffprobe -v error -show_entries stream=index,codec_name -of csv=p=0 " + file, dir);
    std::istringstream codecLines(codecs.out);
    for (std::string line; std::getline(codecLines, line);) {
        const size_t comma = line.find(',');
        if (comma != std::string::npos)
            streams[std::atoi(line.c_str())].codec = line.substr(comma + 1);
    }
    const ToolRun packets = RunShell(
        "ffprobe -v error -show_entries packet=stream_index,pts_time,duration_time -of csv=p=0 " +
            file,
        dir);
    std::istringstream packetLines(packets.out);
    for (std::string line; std::getline(packetLines, line);) {
        int index = 0;
        double pts = 0, duration = 0;
        if (std::sscanf(line.c_str(), "%d,%lf,%lf", &index, &pts, &duration) != 3) continue;
        StreamSpan& span = streams[index];
        span.first = std::min(span.first, pts);
        span.end = std::max(span.end, pts + duration);
        ++span.packets;
    }
    return streams;
}

}  // namespace

namespace vmctest {

int ReportedShortfall(const std::string& err) {
    static const std::regex said("([0-9]+) (video )?frames were (never produced|dropped)");
    int total = 0;
    for (std::sregex_iterator it(err.begin(), err.end(), said), end; it != end; ++it)
        total += std::stoi((*it)[1].str());
    return total;
}

std::vector<std::string> RecordingArgs(const std::string& file, double seconds, int rate,
                                       const char* size) {
    char secondsText[32];
    std::snprintf(secondsText, sizeof secondsText, "%g", seconds);
    return {"capture", "desktop",    "-s", size,        "-r", std::to_string(rate),
            "--audio", "microphone", "-t", secondsText, "-o", file};
}

void ExpectInStep(const ToolRun& run, const std::string& dir, const std::string& file,
                  const char* videoCodec, double seconds, int rate) {
    ASSERT_EQ(run.status, 0) << run.err;
    const std::map<int, StreamSpan> streams = ProbeStreams(dir, file);
    ASSERT_EQ(streams.size(), 2u) << file;
    const StreamSpan& video = streams.at(0);
    const StreamSpan& audio = streams.at(1);
    EXPECT_EQ(video.codec, videoCodec);
    EXPECT_EQ(audio.codec, "opus");
    // The encoder's lead-in aside, within one frame of each other.
    EXPECT_NEAR(video.first, audio.first, 1.0 / rate) << file;
    // Frames a busy machine never produced leave the video that much shorter; the tool says how
    // many.
    const double missing = ReportedShortfall(run.err) / static_cast<double>(rate);
    EXPECT_NEAR(video.end - video.first, audio.end - audio.first, 0.05 + missing) << file;
    EXPECT_NEAR(video.end - video.first, seconds, 0.05 + missing) << file;
    EXPECT_NEAR(audio.end - audio.first, seconds, 0.05) << file;
    // At the end still in step: no drift between the streams over the whole recording.
    EXPECT_NEAR(video.end, audio.end, 0.05 + missing) << file;
    EXPECT_EQ(video.packets + ReportedShortfall(run.err), static_cast<int>(seconds * rate + 0.5))
        << run.err;
}

}  // namespace vmctest

namespace {

struct RecordingCase {
    const char* file;
    const char* videoCodec;
};

class Recording : public testing::TestWithParam<RecordingCase> {
protected:
    void SetUp() override {
        if (!VMCAPTURE_RECORDS) GTEST_SKIP() << "vmcapture was built without GStreamer";
    }
};

TEST_P(Recording, HoldsBothStreamsInStep) {
    ScratchDir dir;
    const ToolRun run = RunTool(RecordingArgs(GetParam().file, 2, 20, "320x240"), dir.Path());
    ExpectInStep(run, dir.Path(), GetParam().file, GetParam().videoCodec, 2, 20);
}

const RecordingCase kRecordings[] = {
    {"talk.mkv", "h264"},
    {"talk.mp4", "h264"},
    {"talk.webm", "vp8"},
};
INSTANTIATE_TEST_SUITE_P(Containers, Recording, testing::ValuesIn(kRecordings),
                         [](const testing::TestParamInfo<RecordingCase>& info) {
                             std::string name = info.param.file;
                             return name.substr(name.find('.') + 1);
                         });

}  // namespace
