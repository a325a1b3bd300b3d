// SPDX-License-Identifier: MIT
// Runs the vmcapture tool as a process in a scratch folder, and reads back the files it writes
// with readers of its own, which do not share the tool's writers' mistakes.
#pragma once

#include <sys/types.h>

#include <cstdint>
#include <functional>
#include <string>
#include <vector>

namespace vmctest {

// A fresh folder below the system's temporary folder, removed with everything in it.
class ScratchDir {
public:
    ScratchDir();
    ~ScratchDir();
    const std::string& Path() const { return path_; }
    std::string File(const std::string& name) const { return path_ + "/" + name; }

private:
    std::string path_;
};

struct ToolRun {
    int status = -1;   // exit status; -1 when the tool did not end by itself in time
    std::string out;   // standard output
    std::string err;   // standard error
    long peakKiB = 0;  // peak resident memory
};

// Runs vmcapture with `args` in folder `dir`, standard output and error going to files,
// standard input empty. Kills it after `timeoutSeconds`.
ToolRun RunTool(const std::vector<std::string>& args, const std::string& dir,
                int timeoutSeconds = 60);
// The same, without waiting: the process id, for StopTool or FinishTool. `beforeRun`, when
// given, is called with the process id once the process exists and before the tool starts in
// it (to prepare names made of that id).
pid_t StartTool(const std::vector<std::string>& args, const std::string& dir,
                const std::function<void(pid_t)>& beforeRun = {});
// Waits for a started tool to end by itself (killed after `timeoutSeconds`) and reads what it
// wrote to standard output and error.
ToolRun FinishTool(pid_t pid, const std::string& dir, int timeoutSeconds = 60);
// Runs vmcapture with each of `runs` at the same time, run i in folder `dirs[i]`, as RunTool
// does; their results in the same order.
std::vector<ToolRun> RunTogether(const std::vector<std::vector<std::string>>& runs,
                                 const std::vector<ScratchDir>& dirs);
// Sends `signal` and waits for the exit status (-1: still running after `timeoutSeconds`,
// then killed).
int StopTool(pid_t pid, int signal, int timeoutSeconds);

std::vector<uint8_t> ReadBytes(const std::string& path);
std::string ReadText(const std::string& path);
// The names in a folder, sorted, but for the harness's own files (.stdout, .stderr, .script).
std::vector<std::string> FilesIn(const std::string& dir);
// Where the tool with process id `pid` writes `path` until the capture is complete.
std::string PartFile(const std::string& path, pid_t pid);
// Runs `command` with the shell in `dir`, PATH starting with the tool's folder; its output, error
// and exit status (of the pipeline's first command when `firstStatus`).
ToolRun RunShell(const std::string& command, const std::string& dir, bool firstStatus = false);
// ffprobe's value of `entry` (e.g. "width", "nb_read_packets") of the first stream of `file` in
// `dir`, frames and packets counted; "" where it reads nothing.
std::string Probe(const std::string& dir, const std::string& file, const std::string& entry);
bool WaitForFileSize(const std::string& path, size_t size, int timeoutSeconds);

// A 32-bit top-down bitmap file whose pixel (x, y), counted from the top left, is
// pixel(x, y) as 0x00RRGGBB.
void WriteTestPicture(const std::string& path, int width, int height,
                      const std::function<uint32_t(int, int)>& pixel);

struct Y4m {
    std::vector<std::string> params;  // the header's words after "YUV4MPEG2"
    int width = 0;
    int height = 0;
    double rate = 0;                           // frames a second, from F<n>:<d>
    std::vector<std::vector<uint8_t>> frames;  // planes Y, U, V of each frame
    bool wellFormed = false;                   // header, then whole FRAME records only

    bool HasParam(const std::string& word) const;
    uint8_t Y(size_t frame, int x, int y) const;
    uint8_t U(size_t frame, int x, int y) const;
    uint8_t V(size_t frame, int x, int y) const;
};
Y4m ParseY4m(const std::vector<uint8_t>& bytes);

// The studio-range BT.601 values of one 0x00RRGGBB colour.
struct Yuv {
    int y, u, v;
};
Yuv Bt601(uint32_t rgb);

// The recordings' check (test_vmcapture_recording.cpp): the tool's arguments for `seconds` of
// the desktop of `size` at `rate` with the microphone into `file`, and the judgement of what
// such a run wrote: both streams there, together from the start, as long as asked and as each
// other, and every frame of the rate in the file or said to be missing.
std::vector<std::string> RecordingArgs(const std::string& file, double seconds, int rate,
                                       const char* size);
void ExpectInStep(const ToolRun& run, const std::string& dir, const std::string& file,
                  const char* videoCodec, double seconds, int rate);

// The frames the tool said the file lacks: the numbers before "frames were never produced" and
// "frames were dropped" on its standard error.
int ReportedShortfall(const std::string& err);

uint32_t LE32(const std::vector<uint8_t>& bytes, size_t at);
uint32_t LE16(const std::vector<uint8_t>& bytes, size_t at);

}  // namespace vmctest
