// SPDX-License-Identifier: MIT
#include "vmcapture_harness.h"

#include <fcntl.h>
#include <signal.h>
#include <sys/stat.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <sstream>
#include <thread>

namespace vmctest {

ScratchDir::ScratchDir() {
    std::string pattern = (std::filesystem::temp_directory_path() / "vmcapture-test-XXXXXX");
    if (mkdtemp(pattern.data()) != nullptr) path_ = pattern;
}

ScratchDir::~ScratchDir() {
    std::error_code ignored;
    if (!path_.empty()) std::filesystem::remove_all(path_, ignored);
}

pid_t StartTool(const std::vector<std::string>& args, const std::string& dir,
                const std::function<void(pid_t)>& beforeRun) {
    std::vector<char*> argv;
    std::string program = VMCAPTURE_PATH;
    argv.push_back(program.data());
    std::vector<std::string> words = args;
    for (std::string& word : words) argv.push_back(word.data());
    argv.push_back(nullptr);
    const std::string out = dir + "/.stdout", err = dir + "/.stderr";
    // The child waits for a byte (or the end) of this pipe before it runs the tool.
    int go[2];
    if (pipe(go) != 0) return -1;
    const pid_t pid = fork();
    if (pid == 0) {
        close(go[1]);
        char byte;
        while (read(go[0], &byte, 1) < 0 && errno == EINTR) {
        }
        close(go[0]);
        const int in = open("/dev/null", O_RDONLY);
        const int o = open(out.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
        const int e = open(err.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
        if (in < 0 || o < 0 || e < 0 || chdir(dir.c_str()) != 0 || dup2(in, 0) < 0 ||
            dup2(o, 1) < 0 || dup2(e, 2) < 0)
            _exit(127);
        execv(argv[0], argv.data());
        _exit(127);
    }
    close(go[0]);
    if (pid > 0 && beforeRun) beforeRun(pid);
    close(go[1]);
    return pid;
}

namespace {

// The exit status, and the process's peak resident memory in KiB in `peakKiB` when given.
int WaitExit(pid_t pid, int timeoutSeconds, long* peakKiB = nullptr) {
    const auto end = std::chrono::steady_clock::now() + std::chrono::seconds(timeoutSeconds);
    int status = 0;
    rusage usage{};
    while (wait4(pid, &status, WNOHANG, &usage) == 0) {
        if (std::chrono::steady_clock::now() > end) {
            kill(pid, SIGKILL);
            waitpid(pid, &status, 0);
            return -1;
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
    if (peakKiB != nullptr) *peakKiB = usage.ru_maxrss;
    return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

size_t PlaneOffset(const Y4m& file, int plane) {
    const size_t luma = static_cast<size_t>(file.width) * file.height;
    return plane == 0 ? 0 : luma + (plane - 1) * (luma / 4);
}

}  // namespace

ToolRun RunTool(const std::vector<std::string>& args, const std::string& dir, int timeoutSeconds) {
    return FinishTool(StartTool(args, dir), dir, timeoutSeconds);
}

ToolRun FinishTool(pid_t pid, const std::string& dir, int timeoutSeconds) {
    ToolRun run;
    if (pid < 0) return run;
    run.status = WaitExit(pid, timeoutSeconds, &run.peakKiB);
    run.out = ReadText(dir + "/.stdout");
    run.err = ReadText(dir + "/.stderr");
    return run;
}

std::vector<ToolRun> RunTogether(const std::vector<std::vector<std::string>>& runs,
                                 const std::vector<ScratchDir>& dirs) {
    std::vector<pid_t> pids;
    for (size_t i = 0; i < runs.size(); ++i) pids.push_back(StartTool(runs[i], dirs[i].Path()));
    std::vector<ToolRun> results;
    for (size_t i = 0; i < runs.size(); ++i) results.push_back(FinishTool(pids[i], dirs[i].Path()));
    return results;
}

int StopTool(pid_t pid, int signal, int timeoutSeconds) {
    kill(pid, signal);
    return WaitExit(pid, timeoutSeconds);
}

std::string ReadText(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), {});
}

std::vector<uint8_t> ReadBytes(const std::string& path) {
    const std::string text = ReadText(path);
    return std::vector<uint8_t>(text.begin(), text.end());
}

std::vector<std::string> FilesIn(const std::string& dir) {
    std::vector<std::string> names;
    for (const auto& entry : std::filesystem::directory_iterator(dir)) {
        const std::string name = entry.path().filename().string();
        if (name != ".stdout" && name != ".stderr" && name != ".script") names.push_back(name);
    }
    std::sort(names.begin(), names.end());
    return names;
}

std::string PartFile(const std::string& path, pid_t pid) {
    return path + "." + std::to_string(pid) + ".part";
}

ToolRun RunShell(const std::string& command, const std::string& dir, bool firstStatus) {
    const std::string folder = std::filesystem::path(VMCAPTURE_PATH).parent_path().string();
    const std::string script = "cd '" + dir + "' && PATH='" + folder + "':\"$PATH\" && " + command +
                               (firstStatus ? "; exit ${PIPESTATUS[0]}" : "");
    const std::string out = dir + "/.stdout", err = dir + "/.stderr";
    std::ofstream(dir + "/.script") << script;
    const int status = std::system(
        ("bash '" + dir + "/.script' >'" + out + "' 2>'" + err + "' </dev/null").c_str());
    ToolRun run;
    run.status = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
    run.out = ReadText(out);
    run.err = ReadText(err);
    return run;
}

std::string Probe(const std::string& dir, const std::string& file, const std::string& entry) {
    const ToolRun run = RunShell(
        "ffprobe -v error -count_frames -count_packets -select_streams 0 "
        "-show_entries stream=" +
            entry + " -of csv=p=0 " + file,
        dir);
    return run.status == 0 ? run.out.substr(0, run.out.find('\n')) : "";
}

bool WaitForFileSize(const std::string& path, size_t size, int timeoutSeconds) {
    const auto end = std::chrono::steady_clock::now() + std::chrono::seconds(timeoutSeconds);
    std::error_code error;
    while (std::chrono::steady_clock::now() < end) {
        if (std::filesystem::exists(path, error) && std::filesystem::file_size(path, error) >= size)
            return true;
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
    }
    return false;
}

void WriteTestPicture(const std::string& path, int width, int height,
                      const std::function<uint32_t(int, int)>& pixel) {
    std::vector<uint8_t> file(54 + static_cast<size_t>(width) * height * 4, 0);
    auto put32 = [&file](size_t at, uint32_t value) {
        for (int i = 0; i < 4; ++i) file[at + i] = static_cast<uint8_t>(value >> (8 * i));
    };
    file[0] = 'B';
    file[1] = 'M';
    put32(2, static_cast<uint32_t>(file.size()));
    put32(10, 54);
    put32(14, 40);
    put32(18, static_cast<uint32_t>(width));
    put32(22, static_cast<uint32_t>(-height));  // negative: top row first
    file[26] = 1;
    file[28] = 32;
    for (int y = 0; y < height; ++y)
        for (int x = 0; x < width; ++x)
            put32(54 + (static_cast<size_t>(y) * width + x) * 4, pixel(x, y));
    std::ofstream(path, std::ios::binary)
        .write(reinterpret_cast<const char*>(file.data()),
               static_cast<std::streamsize>(file.size()));
}

bool Y4m::HasParam(const std::string& word) const {
    return std::find(params.begin(), params.end(), word) != params.end();
}

uint8_t Y4m::Y(size_t frame, int x, int y) const {
    return frames[frame][PlaneOffset(*this, 0) + static_cast<size_t>(y) * width + x];
}
uint8_t Y4m::U(size_t frame, int x, int y) const {
    return frames[frame][PlaneOffset(*this, 1) + static_cast<size_t>(y / 2) * (width / 2) + x / 2];
}
uint8_t Y4m::V(size_t frame, int x, int y) const {
    return frames[frame][PlaneOffset(*this, 2) + static_cast<size_t>(y / 2) * (width / 2) + x / 2];
}

Y4m ParseY4m(const std::vector<uint8_t>& bytes) {
    Y4m file;
    const auto newline = std::find(bytes.begin(), bytes.end(), '\n');
    if (newline == bytes.end()) return file;
    std::istringstream header(std::string(bytes.begin(), newline));
    std::string word;
    header >> word;
    if (word != "YUV4MPEG2") return file;
    while (header >> word) {
        file.params.push_back(word);
        if (word[0] == 'W') file.width = std::atoi(word.c_str() + 1);
        if (word[0] == 'H') file.height = std::atoi(word.c_str() + 1);
        unsigned long long numerator = 0, denominator = 0;
        if (word[0] == 'F' &&
            std::sscanf(word.c_str(), "F%llu:%llu", &numerator, &denominator) == 2 &&
            denominator != 0)
            file.rate = static_cast<double>(numerator) / denominator;
    }
    if (file.width <= 0 || file.height <= 0) return file;
    const size_t frameSize = static_cast<size_t>(file.width) * file.height * 3 / 2;
    const std::string marker = "FRAME\n";
    size_t at = static_cast<size_t>(newline - bytes.begin()) + 1;
    while (at < bytes.size()) {
        if (bytes.size() - at < marker.size() + frameSize ||
            !std::equal(marker.begin(), marker.end(), bytes.begin() + at))
            return file;
        at += marker.size();
        file.frames.emplace_back(bytes.begin() + at, bytes.begin() + at + frameSize);
        at += frameSize;
    }
    file.wellFormed = true;
    return file;
}

Yuv Bt601(uint32_t rgb) {
    const int r = rgb >> 16 & 0xFF, g = rgb >> 8 & 0xFF, b = rgb & 0xFF;
    return {((66 * r + 129 * g + 25 * b + 128) >> 8) + 16,
            ((-38 * r - 74 * g + 112 * b + 128) >> 8) + 128,
            ((112 * r - 94 * g - 18 * b + 128) >> 8) + 128};
}

uint32_t LE32(const std::vector<uint8_t>& bytes, size_t at) {
    return LE16(bytes, at) | LE16(bytes, at + 2) << 16;
}

uint32_t LE16(const std::vector<uint8_t>& bytes, size_t at) {
    return static_cast<uint32_t>(bytes.at(at)) | static_cast<uint32_t>(bytes.at(at + 1)) << 8;
}

}  // namespace vmctest
