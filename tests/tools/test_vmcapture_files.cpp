// SPDX-License-Identifier: MIT
// The tool's output files, driven directly: built into the tool's suite on Linux and into the
// Windows suite, so both ways of creating a file are judged by the same cases. Names already
// taken (a file, a symbolic link, a link that leads nowhere) are never opened for writing.
#include <gtest/gtest.h>

#include <atomic>
#include <cerrno>
#include <chrono>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <set>
#include <string>

#include "console.h"
#include "files.h"

namespace {

namespace fs = std::filesystem;

std::string Read(const fs::path& path) {
    std::ifstream in(path, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), {});
}

std::set<std::string> Names(const fs::path& dir) {
    std::set<std::string> names;
    for (const auto& entry : fs::directory_iterator(dir))
        names.insert(entry.path().filename().string());
    return names;
}

class OutputFileTest : public ::testing::Test {
protected:
    void SetUp() override {
        static std::atomic<int> serial{0};
        const auto now = std::chrono::steady_clock::now().time_since_epoch().count();
        dir_ = fs::temp_directory_path() /
               ("vmcapture-files-" + std::to_string(vmcapture::ProcessId()) + "-" +
                std::to_string(now) + "-" + std::to_string(++serial));
        ASSERT_TRUE(fs::create_directory(dir_));
        victim_ = (dir_ / "victim.txt").string();
        std::ofstream(victim_, std::ios::binary) << "the user's own file";
    }
    void TearDown() override {
        std::error_code ignored;
        fs::remove_all(dir_, ignored);
    }
    std::string In(const std::string& name) const { return (dir_ / name).string(); }
    // A symbolic link at `link` to `target`; false where the system does not make them for us.
    static bool Link(const std::string& target, const std::string& link) {
        std::error_code error;
        fs::create_symlink(target, link, error);
        return !error && fs::is_symlink(fs::symlink_status(link, error));
    }
    // Writes `text` through an OutputFile at `path` and completes it.
    static void WriteOutput(const std::string& path, const std::string& text) {
        vmcapture::OutputFile file;
        std::string error;
        ASSERT_TRUE(file.Open(path, error)) << error;
        ASSERT_TRUE(file.Write(text.data(), text.size()));
        ASSERT_TRUE(file.Close(error)) << error;
    }

    fs::path dir_;
    std::string victim_;
};

TEST_F(OutputFileTest, ATakenTemporaryNameIsLeftAsItIsAndAnotherOneIsUsed) {
    const std::string out = In("out.y4m");
    const std::string taken = vmcapture::TemporaryPath(out);
    std::ofstream(taken, std::ios::binary) << "someone else's file";
    errno = 0;
    EXPECT_EQ(nullptr, vmcapture::CreateNewFile(taken.c_str()));
    EXPECT_EQ(EEXIST, errno);

    WriteOutput(out, "frames");
    EXPECT_EQ("frames", Read(out));
    EXPECT_EQ("someone else's file", Read(taken));
    EXPECT_EQ((std::set<std::string>{"out.y4m", fs::path(taken).filename().string(), "victim.txt"}),
              Names(dir_))
        << "a temporary file was left behind";
}

TEST_F(OutputFileTest, NoLinkIsWrittenThroughAndALinkAtTheOutputNameIsReplaced) {
    const std::string out = In("out.y4m");
    const std::string temporary = vmcapture::TemporaryPath(out);
    if (!Link(victim_, out) || !Link(victim_, temporary) || !Link(In("nowhere"), In("dangling")))
        GTEST_SKIP() << "symbolic links cannot be made here";
    errno = 0;
    EXPECT_EQ(nullptr, vmcapture::CreateNewFile(In("dangling").c_str()));
    EXPECT_EQ(EEXIST, errno);
    EXPECT_FALSE(fs::exists(In("nowhere"))) << "created through a link that led nowhere";

    WriteOutput(out, "frames");
    EXPECT_EQ("the user's own file", Read(victim_));
    EXPECT_FALSE(fs::is_symlink(out));
    EXPECT_EQ("frames", Read(out));
    EXPECT_TRUE(fs::is_symlink(temporary)) << "the planted link stays as it was";
    EXPECT_EQ(4u, Names(dir_).size()) << "a temporary file was left behind";
}

TEST_F(OutputFileTest, AnOlderFileIsReplacedOnlyWhenTheWriteCompletes) {
    const std::string out = In("out.wav");
    std::ofstream(out, std::ios::binary) << "older";
    {
        vmcapture::OutputFile abandoned;
        std::string error;
        ASSERT_TRUE(abandoned.Open(out, error)) << error;
        ASSERT_TRUE(abandoned.Write("new", 3));
    }
    EXPECT_EQ("older", Read(out));
    WriteOutput(out, "newer");
    EXPECT_EQ("newer", Read(out));
    EXPECT_EQ((std::set<std::string>{"out.wav", "victim.txt"}), Names(dir_));
}

TEST_F(OutputFileTest, AMissingFolderIsReportedWithTheOutputsName) {
    vmcapture::OutputFile file;
    std::string error;
    EXPECT_FALSE(file.Open(In("no-such-folder/out.y4m"), error));
    EXPECT_NE(std::string::npos, error.find("out.y4m")) << error;
}

}  // namespace
