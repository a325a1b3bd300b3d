// SPDX-License-Identifier: MIT
// Names planted before the tool runs, at every name it may create (its outputs and their
// temporary files): symbolic links to a file outside its folder, links that lead nowhere, and
// files of someone else. The tool creates each of its files new, so nothing but its own files
// changes, byte for byte.
#include <gtest/gtest.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>
#include <map>
#include <string>
#include <thread>
#include <vector>

#include "vmcapture_harness.h"

using namespace vmctest;

namespace {

struct Kind {
    const char* name;
    std::vector<std::string> args;
    std::vector<std::string> outputs;  // the files the command makes
    std::string magic;                 // how each of them starts
};

const Kind kKinds[] = {
    {"y4m",
     {"capture", "desktop", "-s", "64x48", "-n", "2", "-o", "out.y4m"},
     {"out.y4m"},
     "YUV4MPEG2 "},
    {"bmp",
     {"capture", "desktop", "-s", "64x48", "-n", "2", "-o", "shot-%d.bmp"},
     {"shot-1.bmp", "shot-2.bmp"},
     "BM"},
    {"wav", {"capture", "microphone", "--seconds", "0.3", "-o", "out.wav"}, {"out.wav"}, "RIFF"},
    {"convert_y4m", {"convert", "in.bmp", "-o", "out.y4m"}, {"out.y4m"}, "YUV4MPEG2 "},
    {"convert_i420",
     {"convert", "in.rgb", "--size", "4x2", "-o", "out.yuv"},
     {"out.yuv"},
     "wwwwwwww\x80\x80\x80\x80"},  // grey 0x787878: the whole file
};

enum class Plant { LinkToFile, LinkToNothing, File };
const char* const kPlantNames[] = {"LinkToFile", "LinkToNothing", "File"};

// What a folder holds: each name with its link target ("-> target") or its bytes.
std::map<std::string, std::string> Snapshot(const std::string& dir) {
    std::map<std::string, std::string> entries;
    for (const auto& entry : std::filesystem::directory_iterator(dir)) {
        entries[entry.path().filename().string()] =
            entry.is_symlink() ? "-> " + std::filesystem::read_symlink(entry.path()).string()
                               : ReadText(entry.path().string());
    }
    return entries;
}

class PlantedNamesTest : public ::testing::TestWithParam<std::tuple<int, Plant>> {
protected:
    void SetUp() override {
        ASSERT_FALSE(scratch_.Path().empty());
        ASSERT_TRUE(std::filesystem::create_directory(work_));
        ASSERT_TRUE(std::filesystem::create_directory(outside_));
        std::ofstream(outside_ + "/victim.txt") << "the user's own file\n";
        WriteTestPicture(work_ + "/in.bmp", 6, 4, [](int x, int) { return 0x204060u * x; });
        std::ofstream(work_ + "/in.rgb") << std::string(4 * 2 * 3, 'x');
    }

    ScratchDir scratch_;
    const std::string work_ = scratch_.File("work");
    const std::string outside_ = scratch_.File("outside");
};

TEST_P(PlantedNamesTest, NothingButTheToolsOwnNewFilesChanges) {
    const Kind& kind = kKinds[std::get<0>(GetParam())];
    const Plant plant = std::get<1>(GetParam());
    const std::map<std::string, std::string> outsideBefore = Snapshot(outside_);
    std::vector<std::string> planted;  // the temporary names, which must stay as planted
    int made = 0;
    auto plantAt = [&](const std::string& name) {
        const std::string path = work_ + "/" + name;
        if (plant == Plant::File) {
            std::ofstream(path) << "someone else's " << name;
        } else {
            const std::string target = plant == Plant::LinkToFile
                                           ? outside_ + "/victim.txt"
                                           : outside_ + "/made-" + std::to_string(++made);
            ASSERT_EQ(0, symlink(target.c_str(), path.c_str())) << path;
        }
    };
    std::map<std::string, std::string> plantedBefore;
    const mode_t umaskBefore = umask(027);
    const pid_t tool = StartTool(kind.args, work_, [&](pid_t pid) {
        for (const std::string& output : kind.outputs) {
            plantAt(output);
            planted.push_back(PartFile(output, pid));
            plantAt(planted.back());
        }
        plantedBefore = Snapshot(work_);
    });
    umask(umaskBefore);
    ASSERT_GT(tool, 0);
    const ToolRun run = FinishTool(tool, work_);
    ASSERT_EQ(0, run.status) << run.err;

    EXPECT_EQ(outsideBefore, Snapshot(outside_)) << "a file outside the tool's folder changed";
    std::map<std::string, std::string> after = Snapshot(work_);
    for (const std::string& name : planted) {
        EXPECT_EQ(plantedBefore[name], after[name]) << name << " changed";
        after.erase(name);
    }
    for (const std::string& output : kind.outputs) {
        const std::string path = work_ + "/" + output;
        struct stat info;
        ASSERT_EQ(0, lstat(path.c_str(), &info)) << path;
        EXPECT_TRUE(S_ISREG(info.st_mode)) << output << ": the planted name was not replaced";
        EXPECT_EQ(0640u, info.st_mode & 0777u) << output << ": not made under the umask";
        EXPECT_EQ(kind.magic, after[output].substr(0, kind.magic.size())) << output;
        after.erase(output);
    }
    for (const char* own : {".stdout", ".stderr", "in.bmp", "in.rgb"}) after.erase(own);
    for (const auto& left : after) ADD_FAILURE() << "left behind: " << left.first;
}

INSTANTIATE_TEST_SUITE_P(
    EveryOutputKind, PlantedNamesTest,
    ::testing::Combine(::testing::Range(0, static_cast<int>(std::size(kKinds))),
                       ::testing::Values(Plant::LinkToFile, Plant::LinkToNothing, Plant::File)),
    [](const ::testing::TestParamInfo<std::tuple<int, Plant>>& info) {
        return std::string(kKinds[std::get<0>(info.param)].name) + "_" +
               kPlantNames[static_cast<int>(std::get<1>(info.param))];
    });

// A link to a pipe is the one name written through: the pipe is the output, as when it is named
// directly, and the link stays.
TEST(PlantedNamesTest, ALinkToAPipeIsWrittenInPlace) {
    ScratchDir dir;
    const std::string pipe = dir.File("pipe");
    ASSERT_EQ(0, mkfifo(pipe.c_str(), 0600));
    ASSERT_EQ(0, symlink(pipe.c_str(), dir.File("out.y4m").c_str()));
    std::vector<uint8_t> received;
    std::thread reader([&] { received = ReadBytes(pipe); });
    const ToolRun run =
        RunTool({"capture", "desktop", "-s", "64x48", "-n", "2", "-o", "out.y4m"}, dir.Path());
    if (run.status != 0) close(open(pipe.c_str(), O_WRONLY | O_NONBLOCK));  // frees the reader
    reader.join();
    ASSERT_EQ(0, run.status) << run.err;
    const Y4m file = ParseY4m(received);
    EXPECT_TRUE(file.wellFormed);
    EXPECT_EQ(2u, file.frames.size());
    EXPECT_TRUE(std::filesystem::is_symlink(dir.File("out.y4m")));
}

}  // namespace
