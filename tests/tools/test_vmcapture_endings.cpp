// SPDX-License-Identifier: MIT
// How a capture ends other than by its limit: a hang-up or a quit request finishes the file
// as Ctrl-C does, and a file system that takes no more leaves the whole frames or samples
// written, under the file's own name with a true header. Every file is judged by ffprobe.
#include <gtest/gtest.h>
#include <signal.h>

#include <cstdlib>
#include <string>
#include <vector>

#include "vmcapture_harness.h"

using namespace vmctest;

namespace {

struct Output {
    const char* file;
    const char* kind;
    const char* via;  // the device class, nullptr for the screen's only one
    bool compressed;  // written through GStreamer
};

const Output kOutputs[] = {
    {"a.y4m", "desktop", nullptr, false},
    {"a.wav", "microphone", "push", false},
    {"a.wav", "microphone", "pull", false},
    {"a.mkv", "desktop", nullptr, true},
};

// The end of the first stream's last packet, in seconds.
double ProbeEnd(const std::string& dir, const std::string& file) {
    const ToolRun run = RunShell(
        "ffprobe -v error -select_streams 0 -show_entries "
        "packet=pts_time,duration_time -of csv=p=0 " +
            file + " | tail -n 1",
        dir);
    double pts = 0, duration = 0;
    return std::sscanf(run.out.c_str(), "%lf,%lf", &pts, &duration) >= 1 ? pts + duration : -1;
}

// The virtual screen's picture compresses well: a compressed recording takes a larger one to
// fill a few KiB in a few seconds.
std::vector<std::string> Args(const Output& output) {
    std::vector<std::string> args = {"capture", output.kind, "-o", output.file};
    if (output.via != nullptr) args.insert(args.end(), {"--via", output.via});
    if (std::string(output.kind) == "desktop")
        args.insert(args.end(), {"-s", output.compressed ? "320x240" : "64x48", "-r", "20"});
    return args;
}

std::string Quoted(const std::vector<std::string>& args) {
    std::string line = "vmcapture";
    for (const std::string& arg : args) line += " '" + arg + "'";
    return line;
}

bool Skip(const Output& output) { return output.compressed && !VMCAPTURE_RECORDS; }

// The Y4M or WAV file holds whole frames or sample frames, and a WAV header says how many.
void ExpectWholeFile(const std::string& name, const std::vector<uint8_t>& bytes) {
    if (name == "a.y4m") {
        EXPECT_TRUE(ParseY4m(bytes).wellFormed) << "a frame cut in two";
    } else if (name == "a.wav") {
        ASSERT_GE(bytes.size(), 44u);
        EXPECT_EQ(bytes.size() - 8, LE32(bytes, 4));
        EXPECT_EQ(bytes.size() - 44, LE32(bytes, 40));
        EXPECT_EQ(0u, (bytes.size() - 44) % 4) << "a sample frame cut in two";
    }
}

// Ctrl-C (SIGINT), a closed terminal (SIGHUP) and Ctrl-\ (SIGQUIT) end the capture: status 0,
// the file under its name, whole, and no temporary file left.
TEST(StopSignals, InterruptHangUpAndQuitFinishTheFile) {
    for (const int signal : {SIGINT, SIGHUP, SIGQUIT}) {
        for (const Output& output : kOutputs) {
            if (Skip(output)) continue;
            SCOPED_TRACE(Quoted(Args(output)) + " stopped by signal " + std::to_string(signal));
            ScratchDir dir;
            std::vector<std::string> args = Args(output);
            args.insert(args.end(), {"-t", "60", "-q"});
            const pid_t tool = StartTool(args, dir.Path());
            ASSERT_GT(tool, 0);
            ASSERT_TRUE(WaitForFileSize(PartFile(dir.File(output.file), tool), 4000, 30));
            EXPECT_EQ(0, StopTool(tool, signal, 30));
            EXPECT_EQ(std::vector<std::string>({output.file}), FilesIn(dir.Path()));
            ExpectWholeFile(output.file, ReadBytes(dir.File(output.file)));
            const std::string frames = Probe(dir.Path(), output.file, "nb_read_packets");
            EXPECT_GT(std::atoi(frames.c_str()), 0) << "ffprobe read: " << frames;
        }
    }
}

// The seconds in "... after N s: FILE holds M s", or -1.
double HeldSeconds(const std::string& err) {
    const size_t at = err.find(" holds ");
    return at == std::string::npos ? -1 : std::atof(err.c_str() + at + 7);
}

// A file-size limit stands for a full disk (the tool meets EFBIG where it would meet ENOSPC):
// the capture ends with status 5, and the file holds whole frames or samples up to the limit,
// as long as the tool says.
TEST(NoRoom, TheFileKeepsItsWholeFramesAndSamples) {
    constexpr long kLimitKiB = 40;
    for (const Output& output : kOutputs) {
        if (Skip(output)) continue;
        SCOPED_TRACE(Quoted(Args(output)));
        ScratchDir dir;
        std::vector<std::string> args = Args(output);
        args.insert(args.end(), {"-t", "60"});
        const ToolRun run =
            RunShell("ulimit -f " + std::to_string(kLimitKiB) + "; " + Quoted(args), dir.Path());
        EXPECT_EQ(5, run.status) << run.err;
        EXPECT_NE(std::string::npos, run.err.find("file size limit reached after")) << run.err;
        EXPECT_EQ(std::vector<std::string>({output.file}), FilesIn(dir.Path()));
        const std::vector<uint8_t> bytes = ReadBytes(dir.File(output.file));
        ASSERT_LE(bytes.size(), static_cast<size_t>(kLimitKiB * 1024));
        const double held = HeldSeconds(run.err);
        ExpectWholeFile(output.file, bytes);
        if (output.file == std::string("a.y4m")) {
            // 40 KiB hold eight 64x48 frames and part of a ninth.
            const Y4m file = ParseY4m(bytes);
            EXPECT_EQ(8u, file.frames.size());
            EXPECT_NEAR(held, file.frames.size() / file.rate, 0.051);
        } else if (output.file == std::string("a.wav")) {
            EXPECT_GT(bytes.size(), static_cast<size_t>(kLimitKiB * 1024 - 4));
            EXPECT_NEAR(held, (bytes.size() - 44) / 176400.0, 0.051);
        }
        EXPECT_GT(std::atoi(Probe(dir.Path(), output.file, "nb_read_packets").c_str()), 0);
        EXPECT_NEAR(held, ProbeEnd(dir.Path(), output.file), 0.11);
    }
}

// An MP4 file is readable only once finished: none is left, and the tool says so.
TEST(NoRoom, AnUnfinishedMp4IsNotLeftBehind) {
    if (!VMCAPTURE_RECORDS) GTEST_SKIP() << "vmcapture was built without GStreamer";
    ScratchDir dir;
    const ToolRun run =
        RunShell("ulimit -f 20; vmcapture capture desktop -s 320x240 -t 60 -o a.mp4", dir.Path());
    EXPECT_EQ(5, run.status) << run.err;
    EXPECT_NE(std::string::npos, run.err.find("nothing of a.mp4 could be kept")) << run.err;
    EXPECT_TRUE(FilesIn(dir.Path()).empty());
}

// S seconds at R frames a second are S x R frames in every container; on a machine too busy to
// make them all, the tool says how many the file lacks, even with --quiet. N frames asked are N
// frames in a Y4M file (its header gives the rate they came at), and N places of the frame grid
// in a recording, those never produced said at the end.
TEST(Seconds, HoldExactlyTheFramesOfTheirRate) {
    // At 30 frames a second a period is no whole number of nanoseconds.
    const struct {
        const char* rate;
        const char* limit;
        const char* value;
        int frames;
    } limits[] = {{"20", "-t", "0.5", 10},
                  {"20", "-t", "1", 20},
                  {"20", "-n", "7", 7},
                  {"30", "-t", "1", 30}};
    std::vector<std::vector<std::string>> runs;
    std::vector<int> expected;
    for (const char* file : {"a.y4m", "a.mkv"})
        for (const auto& limit : limits)
            if (std::string(file) == "a.y4m" || VMCAPTURE_RECORDS) {
                runs.push_back({"capture", "desktop", "-s", "64x48", "-r", limit.rate, limit.limit,
                                limit.value, "-q", "-o", file});
                expected.push_back(limit.frames);
            }
    const std::vector<ScratchDir> dirs(runs.size());
    const std::vector<ToolRun> done = RunTogether(runs, dirs);
    for (size_t i = 0; i < runs.size(); ++i) {
        SCOPED_TRACE(Quoted(runs[i]));
        ASSERT_EQ(0, done[i].status) << done[i].err;
        const int frames =
            std::atoi(Probe(dirs[i].Path(), runs[i].back(), "nb_read_packets").c_str());
        const bool counted = runs[i].back() == "a.y4m" && runs[i][6] == "-n";
        EXPECT_EQ(expected[i], frames + (counted ? 0 : ReportedShortfall(done[i].err)))
            << done[i].err;
    }
}

}  // namespace
