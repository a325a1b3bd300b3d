// SPDX-License-Identifier: MIT
// Every vmcapture command that the README, the documents of docs/ and the tool's help show runs
// as written (its duration cut to a second at most), and what it writes is read back by ffprobe.
// The tool's manual (docs/vmcapture.md) and its help name the same options and exit statuses, and
// the default window is captured as the manual draws it.
#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <mutex>
#include <regex>
#include <set>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include "vmcapture_harness.h"

using namespace vmctest;

namespace {

const std::string kRepository = VMC_SOURCE_DIR;

// The vmcapture commands in the shell blocks of a Markdown file: each line, or each part of a
// line joined by "&&", that runs vmcapture (a build folder's path before it dropped).
std::vector<std::string> ReadmeCommands(const std::string& path) {
    std::ifstream in(path);
    std::vector<std::string> commands;
    std::string line;
    bool inShell = false;
    while (std::getline(in, line)) {
        if (line.rfind("```", 0) == 0) {
            inShell = line == "```sh";
            continue;
        }
        if (!inShell) continue;
        size_t start = 0;
        while (start <= line.size()) {
            size_t end = line.find(" && ", start);
            if (end == std::string::npos) end = line.size();
            std::string part = line.substr(start, end - start);
            const size_t build = part.find("./build/bin/");
            if (build != std::string::npos) part.erase(build, 12);
            if (part.find("vmcapture ") != std::string::npos &&
                part.find("cmake") == std::string::npos)
                commands.push_back(part);
            start = end + 4;
        }
    }
    return commands;
}

// The lines of `vmcapture COMMAND --help`.
std::vector<std::string> HelpLines(const std::string& command, const std::string& dir) {
    std::istringstream in(RunShell("vmcapture " + command + " --help", dir).out);
    std::vector<std::string> lines;
    for (std::string line; std::getline(in, line);) lines.push_back(line);
    return lines;
}

// The commands under "Examples:" in `vmcapture COMMAND --help`.
std::vector<std::string> HelpCommands(const std::string& command, const std::string& dir) {
    std::vector<std::string> commands;
    bool examples = false;
    for (const std::string& line : HelpLines(command, dir)) {
        if (line == "Examples:") examples = true;
        if (examples && line.rfind("  vmcapture ", 0) == 0) commands.push_back(line.substr(2));
    }
    return commands;
}

// The Markdown files whose shell blocks show the tool: the README, the tool's own, and every
// document of docs/.
std::vector<std::string> DocumentsWithExamples() {
    std::vector<std::string> paths = {kRepository + "/README.md"};
    for (const auto& entry : std::filesystem::directory_iterator(kRepository + "/docs"))
        if (entry.path().extension() == ".md") paths.push_back(entry.path().string());
    std::sort(paths.begin() + 1, paths.end());
    return paths;
}

// The folder the examples expect: a picture and raw frames to convert.
void PrepareInputs(const ScratchDir& dir) {
    WriteTestPicture(dir.File("picture.bmp"), 64, 48, [](int x, int y) {
        return static_cast<uint32_t>(x * 4 << 16 | y * 5 << 8 | 0x40);
    });
    std::ofstream(dir.File("frames.rgb"), std::ios::binary)
        << std::string(640 * 480 * 3 * 2, '\x50');
}

// `command` with every duration past one second cut to one: what a command writes and how it
// ends does not depend on its length, and the examples record some 60 s between them.
std::string WithShortDurations(const std::string& command) {
    static const std::regex duration("(--seconds|-t) ([0-9.]+)");
    std::string shortened;
    auto from = command.cbegin();
    for (std::sregex_iterator it(command.begin(), command.end(), duration), end; it != end; ++it) {
        shortened.append(from, (*it)[0].first);
        shortened += std::atof((*it)[2].str().c_str()) > 1 ? (*it)[1].str() + " 1" : it->str();
        from = (*it)[0].second;
    }
    return shortened.append(from, command.cend());
}

// Runs one example in a folder of its own and checks that it ends with status 0 and that every
// file it made is one that ffprobe reads.
void ExpectExampleRuns(const std::string& example) {
    const std::string command = WithShortDurations(example);
    SCOPED_TRACE(command);
    ScratchDir dir;
    PrepareInputs(dir);
    const ToolRun run = RunShell(command, dir.Path());
    EXPECT_EQ(0, run.status) << run.err;
    for (const std::string& name : FilesIn(dir.Path())) {
        if (name == "picture.bmp" || name == "frames.rgb") continue;
        EXPECT_EQ(std::string::npos, name.find(".part"));
        const bool raw = name.size() > 4 && name.substr(name.size() - 4) == ".yuv";
        const ToolRun read = RunShell(
            std::string("ffprobe -v error ") +
                (raw ? "-f rawvideo -video_size 640x480 -pixel_format yuv420p " : "") + name,
            dir.Path());
        EXPECT_EQ(0, read.status) << name << "\n" << read.err;
    }
}

TEST(ExamplesTest, EveryCommandOfTheReadmeAndTheHelpRunsAsWritten) {
    ScratchDir probe;
    std::set<std::string> commands;
    for (const std::string& document : DocumentsWithExamples())
        for (const std::string& command : ReadmeCommands(document)) commands.insert(command);
    for (const char* help : {"capture", "convert", "list"})
        for (const std::string& command : HelpCommands(help, probe.Path()))
            commands.insert(command);
    ASSERT_GE(commands.size(), 15u) << "the documents' and the help's examples were found";
    EXPECT_EQ(1u, commands.count(
                      "vmcapture capture window \"Untitled - Editor\" --seconds 3 -o editor.y4m"));

    std::vector<std::string> examples;
    for (const std::string& command : commands) {
        // A host-world example captures the reader's own screen and windows; the host stage
        // runs the tool in that world on a display of its own.
        if (command.find("--world host") != std::string::npos ||
            command.find("VORN_WORLD=host") != std::string::npos)
            continue;
        // Compressed recordings need a tool built with GStreamer.
        if (!VMCAPTURE_RECORDS && (command.find(".mkv") != std::string::npos ||
                                   command.find(".mp4") != std::string::npos ||
                                   command.find(".webm") != std::string::npos))
            continue;
        examples.push_back(command);
    }
    // Each example waits mostly on its own clock: a few run at a time, the VP8 ones first and one
    // by one (two VP8 encoders at once take several times as long).
    std::stable_partition(examples.begin(), examples.end(), [](const std::string& command) {
        return command.find(".webm") != std::string::npos;
    });
    std::atomic<size_t> next{0};
    std::mutex vp8;
    std::vector<std::thread> workers;
    for (int i = 0; i < 4; ++i)
        workers.emplace_back([&] {
            for (size_t at; (at = next++) < examples.size();) {
                std::unique_lock<std::mutex> encoding(vp8, std::defer_lock);
                if (examples[at].find(".webm") != std::string::npos) encoding.lock();
                ExpectExampleRuns(examples[at]);
            }
        });
    for (std::thread& worker : workers) worker.join();
}

// The manual's sample is what `list` prints, and `--kind` keeps its two heading lines and the
// rows of that kind.
TEST(ExamplesTest, ListSampleOfTheManualIsWhatListPrintsAndKindKeepsItsRows) {
    ScratchDir dir;
    const ToolRun run = RunTool({"list"}, dir.Path());
    ASSERT_EQ(0, run.status);
    const std::string manual = ReadText(kRepository + "/docs/vmcapture.md");
    EXPECT_NE(std::string::npos, manual.find("```\n" + run.out + "```")) << run.out;
    for (const std::string kind : {"desktop", "window", "camera", "microphone"}) {
        std::istringstream lines(run.out);
        std::string rows;
        int row = 0;
        for (std::string line; std::getline(lines, line); ++row)
            if (row < 2 || line.find("  " + kind + " ") != std::string::npos) rows += line + "\n";
        EXPECT_EQ(rows, RunTool({"list", "--kind", kind}, dir.Path()).out) << kind;
    }
}

TEST(ExamplesTest, WindowCaptureStartsAtTheOuterCornerWithTheClientSize) {
    ScratchDir dir;
    const ToolRun run = RunTool(
        {"capture", "window", "Untitled - Editor", "--frames", "1", "-o", "w.y4m"}, dir.Path());
    ASSERT_EQ(0, run.status) << run.err;
    const Y4m file = ParseY4m(ReadBytes(dir.File("w.y4m")));
    ASSERT_EQ(1u, file.frames.size());
    // Outer 640x480, client inset 4, 24, 4, 4: client 632x452, both multiples of 4.
    EXPECT_EQ(632, file.width);
    EXPECT_EQ(452, file.height);
    EXPECT_NEAR(Bt601(0x2B579A).y, file.Y(0, 300, 10), 1) << "the title bar is in the frame";
    EXPECT_NEAR(Bt601(0xA0A0A0).y, file.Y(0, 1, 200), 1) << "and the left border";
    EXPECT_NEAR(Bt601(0xFFFFFF).y, file.Y(0, 631, 200), 1) << "the right edge is still the page";
    EXPECT_NEAR(Bt601(0xFFFFFF).y, file.Y(0, 300, 451), 1) << "and so is the bottom edge";
}

// Every "--word" in `text`.
std::set<std::string> LongOptions(const std::string& text) {
    std::set<std::string> found;
    const std::regex option("--[a-z][a-z-]*[a-z]");
    for (std::sregex_iterator i(text.begin(), text.end(), option), end; i != end; ++i)
        found.insert(i->str());
    return found;
}

// The statuses in the lines of `text` that `row` matches (its first group).
std::set<int> Statuses(const std::string& text, const std::regex& row) {
    std::set<int> statuses;
    std::istringstream lines(text);
    for (std::string line; std::getline(lines, line);) {
        std::smatch match;
        if (std::regex_search(line, match, row)) statuses.insert(std::stoi(match[1]));
    }
    return statuses;
}

// Every option a command's help lists in its "Options:" part is in the manual, and every option
// of the manual's tables' first cells and of its vmcapture commands is in a help.
TEST(Manual, NamesWhatTheHelpNamesAndNothingElse) {
    ScratchDir dir;
    const std::string path = kRepository + "/docs/vmcapture.md";
    const std::string manual = ReadText(path);
    ASSERT_FALSE(manual.empty()) << path;
    std::set<std::string> help;
    static const std::regex row("^  (-[a-zA-Z], |    )(--[a-z][a-z-]*)");
    for (const char* command : {"list", "capture", "convert"})
        for (const std::string& line : HelpLines(command, dir.Path())) {
            std::smatch match;
            if (std::regex_search(line, match, row)) help.insert(match[2]);
        }
    ASSERT_GE(help.size(), 20u) << "the helps' options were found";
    const std::set<std::string> inManual = LongOptions(manual);
    for (const std::string& option : help)
        EXPECT_EQ(1u, inManual.count(option)) << option << " is in a help, not in the manual";
    std::set<std::string> offered;
    std::istringstream lines(manual);
    for (std::string line; std::getline(lines, line);)
        if (line.rfind("| `-", 0) == 0)
            offered.merge(LongOptions(line.substr(0, line.find(" | ", 2))));
    for (const std::string& command : ReadmeCommands(path))
        offered.merge(LongOptions(command.substr(0, command.find(" | "))));  // not the reader's
    for (const std::string& option : offered)
        EXPECT_EQ(1u, help.count(option)) << option << " is in the manual, in no help";
}

TEST(Manual, ListsTheExitStatusesOfTheHelp) {
    ScratchDir dir;
    const ToolRun run = RunShell("vmcapture --help", dir.Path());
    const std::string help = run.out.substr(run.out.find("Exit status:"));
    const std::set<int> fromHelp = Statuses(help, std::regex("^  ([0-9]+)  "));
    const std::string manual = ReadText(kRepository + "/docs/vmcapture.md");
    const size_t table = manual.find("## Exit status");
    ASSERT_NE(std::string::npos, table);
    const std::string section = manual.substr(table, manual.find("\n## ", table + 1) - table);
    EXPECT_EQ(fromHelp, Statuses(section, std::regex("^\\| ([0-9]+) \\|")));
    EXPECT_EQ(std::set<int>({0, 1, 2, 3, 4, 5}), fromHelp);
}

}  // namespace
