// SPDX-License-Identifier: MIT
// The tool's manual (docs/vmcapture.md) and its help say the same: every option a command's
// help names is in the manual, every option the manual's tables and commands use is in a help,
// and both list the same exit statuses.
#include <gtest/gtest.h>

#include <regex>
#include <set>
#include <sstream>
#include <string>

#include "vmcapture_harness.h"

using namespace vmctest;

namespace {

const std::string kRepository = VMC_SOURCE_DIR;

// Every "--word" in `text`.
std::set<std::string> LongOptions(const std::string& text) {
    std::set<std::string> found;
    const std::regex option("--[a-z][a-z-]*[a-z]");
    for (std::sregex_iterator i(text.begin(), text.end(), option), end; i != end; ++i)
        found.insert(i->str());
    return found;
}

// The options the helps of the commands list in their "Options:" part.
std::set<std::string> HelpOptions(const std::string& dir) {
    std::set<std::string> options;
    for (const char* command : {"list", "capture", "convert"}) {
        const ToolRun run = RunShell(std::string("vmcapture ") + command + " --help", dir);
        std::istringstream lines(run.out);
        for (std::string line; std::getline(lines, line);) {
            static const std::regex row("^  (-[a-zA-Z], |    )(--[a-z][a-z-]*)");
            std::smatch match;
            if (std::regex_search(line, match, row)) options.insert(match[2]);
        }
    }
    return options;
}

// What the manual offers as options: the first cells of its tables' rows, and the options of
// the vmcapture commands in its shell blocks.
std::set<std::string> ManualOptions(const std::string& manual) {
    std::set<std::string> options;
    std::istringstream lines(manual);
    bool shell = false;
    for (std::string line; std::getline(lines, line);) {
        if (line.rfind("```", 0) == 0) shell = line == "```sh";
        std::string part;
        if (line.rfind("| `-", 0) == 0)
            part = line.substr(0, line.find(" | ", 2));
        else if (shell && line.rfind("vmcapture ", 0) == 0)
            part = line.substr(0, line.find(" | "));  // not the reader it pipes into
        for (const std::string& option : LongOptions(part)) options.insert(option);
    }
    return options;
}

// The statuses in the "Exit status:" part of `vmcapture --help`, or the rows of the manual's
// "Exit status" table.
std::set<int> Statuses(const std::string& text, const std::regex& row) {
    std::set<int> statuses;
    std::istringstream lines(text);
    for (std::string line; std::getline(lines, line);) {
        std::smatch match;
        if (std::regex_search(line, match, row)) statuses.insert(std::stoi(match[1]));
    }
    return statuses;
}

TEST(Manual, NamesWhatTheHelpNamesAndNothingElse) {
    ScratchDir dir;
    const std::string manual = ReadText(kRepository + "/docs/vmcapture.md");
    ASSERT_FALSE(manual.empty()) << kRepository << "/docs/vmcapture.md";
    const std::set<std::string> help = HelpOptions(dir.Path());
    ASSERT_GE(help.size(), 20u) << "the helps' options were found";
    const std::set<std::string> inManual = LongOptions(manual);
    for (const std::string& option : help)
        EXPECT_EQ(1u, inManual.count(option)) << option << " is in a help, not in the manual";
    for (const std::string& option : ManualOptions(manual))
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
    const std::set<int> fromManual = Statuses(section, std::regex("^\\| ([0-9]+) \\|"));
    EXPECT_EQ(fromHelp, fromManual);
    EXPECT_EQ(std::set<int>({0, 1, 2, 3, 4, 5}), fromHelp);
}

}  // namespace
