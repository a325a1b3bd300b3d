// SPDX-License-Identifier: MIT
// vmcapture: lists capture sources, captures one into a file, converts images to I420.
#include <cstdio>
#include <exception>
#include <string>
#include <vector>

#include "commands.h"
#include "console.h"
#include "report.h"
#include "sources.h"

namespace {

struct Command {
    const char* name;
    const char* summary;
    int (*run)(const std::vector<std::string>& args);
};

const Command kCommands[] = {
    {"list", "list every capture source", vmcapture::RunList},
    {"capture", "capture one source into a Y4M, BMP, WAV, MKV, MP4 or WebM file",
     vmcapture::RunCapture},
    {"convert", "convert RGB24 or BMP images to I420 (raw or Y4M)", vmcapture::RunConvert},
};

struct ExitRow {
    int status;
    const char* meaning;
};

const ExitRow kExitRows[] = {
    {vmcapture::kExitOk,
     "done, also when stopped by Ctrl-C, SIGTERM, a hang-up (SIGHUP) or Ctrl-\\ (SIGQUIT)"},
    {vmcapture::kExitFailure, "reading or writing failed, or the source stopped delivering"},
    {vmcapture::kExitUsage, "the command line is wrong"},
    {vmcapture::kExitNoSource, "the source is missing, cannot be opened or delivers nothing"},
    {vmcapture::kExitLost, "capture --strict: audio was lost (the file is written)"},
    {vmcapture::kExitNoRoom, "the disk filled up: the file keeps what was written before"},
};

void PrintUsage(std::FILE* out) {
    std::fprintf(out,
                 "Usage: vmcapture COMMAND [options]\n\n"
                 "Captures the screen, its windows, cameras and microphones through the\n"
                 "VornMediaCapture library.\n\n"
                 "Commands:\n");
    for (const Command& command : kCommands)
        std::fprintf(out, "  %-10s%s\n", command.name, command.summary);
    std::fprintf(out,
                 "\n'vmcapture COMMAND --help' shows the options of a command;\n"
                 "'vmcapture --version' shows the version. The manual is docs/vmcapture.md.\n\n"
                 "Exit status:\n");
    for (const ExitRow& row : kExitRows) std::fprintf(out, "  %d  %s\n", row.status, row.meaning);
#ifndef _WIN32
    std::fprintf(out,
                 "\nOn Linux the sources are the machine's own (the X display or, in a Wayland\n"
                 "session, the screen the ScreenCast portal shares; the sound server; cameras)\n"
                 "where it has a display or a sound server, else those of a virtual world; the\n"
                 "tool says which. --world host|virtual (or VORN_WORLD) chooses:\n"
                 "  vmcapture list --world host\n"
                 "  vmcapture capture desktop --world host -s 1920x1080 -t 10 -o screen.y4m\n");
#endif
}

int Run(std::vector<std::string> args) {
    if (args.empty()) {
        PrintUsage(stderr);
        return vmcapture::kExitUsage;
    }
    if (args[0] == "--version" || args[0] == "-V") {
        std::printf("vmcapture %s\n", VMCAPTURE_VERSION);
        return std::fflush(stdout) == 0 ? vmcapture::kExitOk : vmcapture::kExitFailure;
    }
    if (args[0] == "help" && args.size() == 2) args = {args[1], "--help"};
    if (args[0] == "-h" || args[0] == "--help" || args[0] == "help") {
        PrintUsage(stdout);
        return vmcapture::kExitOk;
    }
    for (const Command& command : kCommands)
        if (args[0] == command.name)
            return command.run(std::vector<std::string>(args.begin() + 1, args.end()));
    vmcapture::ReportError("unknown command '" + args[0] + "' (vmcapture --help lists them)");
    return vmcapture::kExitUsage;
}

}  // namespace

int main(int argc, char** argv) {
    vmcapture::IgnoreBrokenPipe();
    // The sources' notices are the tool's: prefixed with its name, silenced by --quiet.
    VornCapture::SetNoticeSink(vmcapture::ReportNotice);
    try {
        return Run(std::vector<std::string>(argv + 1, argv + argc));
    } catch (const std::exception& failure) {
        vmcapture::ReportError(failure.what());
        return vmcapture::kExitFailure;
    }
}
