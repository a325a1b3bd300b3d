// SPDX-License-Identifier: MIT
// Capture against ffmpeg on the same X server and sound server, in one run:
//
// - y4m: the capture tool as a user runs it, `vmcapture capture desktop -s WxH -o out.y4m`,
//   beside `ffmpeg -f x11grab ... -pix_fmt yuv420p -f yuv4mpegpipe out.y4m`, both asked for 30
//   frames a second (paced) and for as many as they can make (unpaced: -r 1000, -framerate 1000);
// - bgr24: the desktop device taking the screen as fast as it can (FrameRate 2000, a host thread
//   taking every frame with Query) beside `ffmpeg -f x11grab ... -pix_fmt bgr24` to /dev/null;
// - audio: the push audio device (44100 Hz, 16 bits, 2 channels) beside `ffmpeg -f pulse`;
// - portal (with --pipewire-node, instead of the others): in a Wayland session, the desktop
//   device reading the ScreenCast portal's PipeWire stream at the stream's rate, beside
//   `gst-launch-1.0 pipewiresrc target-object=NODE ! video/x-raw ! fakesink` on the same node,
//   and beside the same with `videoconvert ! video/x-raw,format=BGR` before the sink (the
//   device's own work: 24-bit frames).
//   ffmpeg has no PipeWire input, so it is not a peer here.
//
// The y4m figures are whole runs, start-up included, as a user meets them. The bgr24 and audio
// figures are steady-state: ffmpeg's and pipewiresrc's figures are what a run of all the frames
// cost beyond a run of a fifth of them, the desktop device's are measured inside this process,
// from Open on X and from its fifth frame on the portal's stream (the first Open starts the
// cast), and both audio figures from a fifth of the run to its end.
// Each reports frames per second and processor time per frame (per second of audio): its own,
// the X server's (the PipeWire daemon's, the sound server's) read from /proc, and their sum. The
// summary lines at the end give ours / ffmpeg for each, from the medians of the repetitions.
//
// The world the library captures is the environment's (VORN_WORLD=host for the real X display
// and sound server; the tool gets the same variable). The X server is the one of DISPLAY.
//
// Options (before Google Benchmark's own): --vmcapture=PATH, --size=WxH (default 1920x1080),
// --frames=N (frames per video run, default 300), --seconds=S (audio runs, default 10),
// --out-dir=DIR (where the Y4M files are written and removed, default TMPDIR or /tmp),
// --pulse-source=NAME (ffmpeg's input, default "default"), --xserver-pid=PID and
// --sound-server-pid=PID (otherwise the first X server naming DISPLAY and the first PulseAudio
// server among the processes); for the portal comparison --pipewire-node=NAME (the node the
// portal's backend hands out), --pipewire-pid=PID (the PipeWire daemon) and --source-rate=N (the
// node's frames per second, the device's frame rate; default 60).
#include <benchmark/benchmark.h>
#include <dirent.h>
#include <fcntl.h>
#include <signal.h>
#include <spawn.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <time.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <map>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include "device_hooks.h"
#include "icaptureaudiocallback.h"
#include "tqzdesktopdevice.h"
#include "tqzenumdevice.h"
#include "tqzpacket.h"
#include "vorn/control/world.h"

extern char** environ;

namespace {

struct Options {
    std::string vmcapture =
#ifdef VMC_BENCH_VMCAPTURE
        VMC_BENCH_VMCAPTURE;
#else
        "vmcapture";
#endif
    unsigned width = 1920, height = 1080;
    unsigned frames = 300;
    double seconds = 10;
    std::string outDir;
    std::string pulseSource = "default";
    std::string display;
    int xServer = 0;           // pid, 0: looked for among the processes
    int soundServer = 0;       // pid, 0: looked for among the processes
    std::string pipewireNode;  // set: the portal comparison instead of the others
    int pipewireServer = 0;    // pid of the PipeWire daemon
    unsigned sourceRate = 60;
};
Options options;

double Clock(clockid_t id) {
    timespec t{};
    clock_gettime(id, &t);
    return double(t.tv_sec) + double(t.tv_nsec) * 1e-9;
}
double Wall() { return Clock(CLOCK_MONOTONIC); }
double OwnCpu() { return Clock(CLOCK_PROCESS_CPUTIME_ID); }

// ---- other processes: the servers' processor time from /proc ---------------------------------

std::string ReadFile(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    std::stringstream s;
    s << in.rdbuf();
    return s.str();
}

// Processor time of a process in seconds, 0 when it cannot be read: the sum over its threads of
// the nanoseconds they ran (schedstat), or else user plus system time in clock ticks (stat),
// too coarse for the sound server's share of a few seconds of audio.
double ProcessCpu(int pid) {
    if (pid <= 0) return 0;
    const std::string dir = "/proc/" + std::to_string(pid);
    if (DIR* tasks = opendir((dir + "/task").c_str())) {
        unsigned long long ns = 0;
        bool any = false;
        while (dirent* entry = readdir(tasks)) {
            if (entry->d_name[0] == '.') continue;
            std::istringstream line(ReadFile(dir + "/task/" + entry->d_name + "/schedstat"));
            unsigned long long ran = 0;
            if (line >> ran) {
                ns += ran;
                any = true;
            }
        }
        closedir(tasks);
        if (any) return double(ns) * 1e-9;
    }
    const std::string stat = ReadFile(dir + "/stat");
    const size_t close = stat.rfind(')');  // the command name may hold blanks
    if (close == std::string::npos) return 0;
    std::istringstream fields(stat.substr(close + 2));
    std::string field;
    unsigned long long utime = 0, stime = 0;
    // Fields from the state on (field 3); utime and stime are fields 14 and 15.
    for (int i = 3; i <= 15 && fields >> field; ++i) {
        if (i == 14) utime = std::strtoull(field.c_str(), nullptr, 10);
        if (i == 15) stime = std::strtoull(field.c_str(), nullptr, 10);
    }
    return double(utime + stime) / double(sysconf(_SC_CLK_TCK));
}

// The first process for which `match` holds of its command-line arguments.
template <class Match>
int FindProcess(Match match) {
    DIR* proc = opendir("/proc");
    if (proc == nullptr) return 0;
    int found = 0;
    while (dirent* entry = readdir(proc)) {
        const int pid = std::atoi(entry->d_name);
        if (pid <= 0) continue;
        const std::string cmdline = ReadFile("/proc/" + std::string(entry->d_name) + "/cmdline");
        std::vector<std::string> args;
        for (size_t at = 0; at < cmdline.size();) {
            const size_t end = cmdline.find('\0', at);
            args.push_back(cmdline.substr(at, end == std::string::npos ? end : end - at));
            at = end == std::string::npos ? cmdline.size() : end + 1;
        }
        if (!args.empty() && match(args)) {
            found = pid;
            break;
        }
    }
    closedir(proc);
    return found;
}

std::string BaseName(const std::string& path) {
    const size_t slash = path.rfind('/');
    return slash == std::string::npos ? path : path.substr(slash + 1);
}

// The X server of the display: a process whose name starts with X and that names the display.
int XServerPid() {
    if (options.xServer != 0) return options.xServer;
    return FindProcess([](const std::vector<std::string>& args) {
        const std::string name = BaseName(args[0]);
        return !name.empty() && name[0] == 'X' &&
               std::find(args.begin() + 1, args.end(), options.display) != args.end();
    });
}

bool PortalRun() { return !options.pipewireNode.empty(); }

// The server that hands out the screen: the PipeWire daemon for the portal's stream, else X.
int ScreenServerPid() { return PortalRun() ? options.pipewireServer : XServerPid(); }

int SoundServerPid() {
    if (options.soundServer != 0) return options.soundServer;
    return FindProcess([](const std::vector<std::string>& args) {
        const std::string name = BaseName(args[0]);
        return name == "pulseaudio" || name == "pipewire-pulse";
    });
}

// ---- children ---------------------------------------------------------------------------------

struct ChildRun {
    bool ok = false;
    double wall = 0;  // seconds from start to exit
    double cpu = 0;   // the child's user + system time
};

// Runs a command to its end, in this process's environment, with its output thrown away.
// `whileRunning(pid)` is called once the child has started.
template <class WhileRunning>
ChildRun RunChild(const std::vector<std::string>& argv, WhileRunning whileRunning) {
    std::vector<char*> args;
    for (const auto& a : argv) args.push_back(const_cast<char*>(a.c_str()));
    args.push_back(nullptr);

    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_addopen(&actions, 0, "/dev/null", O_RDONLY, 0);
    posix_spawn_file_actions_addopen(&actions, 1, "/dev/null", O_WRONLY, 0);
    posix_spawn_file_actions_addopen(&actions, 2, "/dev/null", O_WRONLY, 0);
    ChildRun run;
    const double start = Wall();
    pid_t pid = 0;
    const int failed = posix_spawnp(&pid, args[0], &actions, nullptr, args.data(), environ);
    posix_spawn_file_actions_destroy(&actions);
    if (failed != 0) return run;
    whileRunning(pid);
    int status = 0;
    rusage usage{};
    if (wait4(pid, &status, 0, &usage) != pid) return run;
    run.wall = Wall() - start;
    run.cpu = double(usage.ru_utime.tv_sec + usage.ru_stime.tv_sec) +
              double(usage.ru_utime.tv_usec + usage.ru_stime.tv_usec) * 1e-6;
    run.ok = WIFEXITED(status) && WEXITSTATUS(status) == 0;
    return run;
}
ChildRun RunChild(const std::vector<std::string>& argv) {
    return RunChild(argv, [](pid_t) {});
}

// Frames in a Y4M file of w x h 4:2:0 frames with bare FRAME records.
uint64_t Y4mFrames(const std::string& path, unsigned w, unsigned h) {
    std::ifstream in(path, std::ios::binary);
    std::string header;
    if (!std::getline(in, header)) return 0;
    struct stat st {};
    if (stat(path.c_str(), &st) != 0) return 0;
    const uint64_t frame = 6 + uint64_t(w) * h * 3 / 2;
    return (uint64_t(st.st_size) - header.size() - 1) / frame;
}

// ---- results ----------------------------------------------------------------------------------

struct Measure {
    double units = 0;   // frames, or seconds of audio
    double wall = 0;    // seconds
    double own = 0;     // processor seconds of the capturing process
    double server = 0;  // processor seconds of the X server or sound server meanwhile
    double Rate() const { return wall > 0 ? units / wall : 0; }
    double OwnPer() const { return units > 0 ? own / units : 0; }
    double ServerPer() const { return units > 0 ? server / units : 0; }
    double TotalPer() const { return OwnPer() + ServerPer(); }
};
std::map<std::string, std::vector<Measure>> results;

void Report(benchmark::State& state, const std::string& name, const Measure& m, bool audio) {
    if (m.units <= 0) {
        state.SkipWithError("no frames");
        return;
    }
    state.SetIterationTime(m.wall / m.units);
    results[name].push_back(m);
    const char* per = audio ? "_ms_per_s" : "_ms_per_frame";
    if (!audio) state.counters["fps"] = m.Rate();
    state.counters[std::string("own") + per] = m.OwnPer() * 1e3;
    state.counters[std::string("server") + per] = m.ServerPer() * 1e3;
    state.counters[std::string("total") + per] = m.TotalPer() * 1e3;
}

std::string SizeText() {
    return std::to_string(options.width) + "x" + std::to_string(options.height);
}

// ---- the subjects -----------------------------------------------------------------------------

enum class Pace { Paced30, Unpaced };
const char* PaceName(Pace pace) { return pace == Pace::Paced30 ? "paced30" : "unpaced"; }

// One run of a capture program, with the X server's or sound server's time meanwhile; `units`
// tells what a run that ended well produced.
template <class Units>
Measure ChildMeasure(const std::vector<std::string>& argv, int server, Units units) {
    const double serverBefore = ProcessCpu(server);
    const ChildRun run = RunChild(argv);
    Measure m;
    m.server = ProcessCpu(server) - serverBefore;
    m.units = run.ok ? units() : 0;
    m.wall = run.wall;
    m.own = run.cpu;
    return m;
}

// One run of a program that writes the Y4M file `path`, which is removed afterwards.
Measure Y4mRun(const std::vector<std::string>& argv, const std::string& path) {
    const Measure m = ChildMeasure(
        argv, XServerPid(), [&] { return double(Y4mFrames(path, options.width, options.height)); });
    std::remove(path.c_str());
    return m;
}

const char* RateText(Pace pace) { return pace == Pace::Paced30 ? "30" : "1000"; }

void ToolY4m(benchmark::State& state, Pace pace) {
    const std::string path = options.outDir + "/vmc-bench-tool.y4m";
    for (auto _ : state) {
        Report(state, std::string("tool_y4m/") + PaceName(pace),
               Y4mRun({options.vmcapture, "capture", "desktop", "-s", SizeText(), "-r",
                       RateText(pace), "-n", std::to_string(options.frames), "-q", "-o", path},
                      path),
               false);
    }
}

// ffmpeg's screen grabber, at the size of the tool's frames from the screen's top-left corner.
// Every frame grabbed is written once: without passthrough ffmpeg fills the Y4M stream's constant
// rate by repeating frames, and a fast request then writes one grab hundreds of times.
std::vector<std::string> FfmpegGrab(const char* rate, unsigned frames) {
    return {"ffmpeg",      "-nostdin",
            "-loglevel",   "error",
            "-f",          "x11grab",
            "-framerate",  rate,
            "-video_size", SizeText(),
            "-i",          options.display,
            "-frames:v",   std::to_string(frames),
            "-fps_mode",   "passthrough"};
}

// What a longer run cost beyond a shorter one of the same kind (or a run's later total beyond an
// earlier one): the cost of the units in between, without what starting and stopping cost (a
// program's start-up, a device's Open and Close), which the in-process device measures leave out
// too.
Measure Beyond(const Measure& shorter, const Measure& longer) {
    Measure m;
    m.units = longer.units - shorter.units;
    m.wall = longer.wall - shorter.wall;
    m.own = longer.own - shorter.own;
    m.server = longer.server - shorter.server;
    return m;
}

void FfmpegY4m(benchmark::State& state, Pace pace) {
    const std::string path = options.outDir + "/vmc-bench-ffmpeg.y4m";
    std::vector<std::string> argv = FfmpegGrab(RateText(pace), options.frames);
    argv.insert(argv.end(), {"-pix_fmt", "yuv420p", "-f", "yuv4mpegpipe", "-y", path});
    for (auto _ : state) {
        Report(state, std::string("ffmpeg_y4m/") + PaceName(pace), Y4mRun(argv, path), false);
    }
}

// The desktop device with a host thread taking every frame with Query. On X it grabs as fast as
// it can (FrameRate 2000) and is measured from Open; on the portal's stream it takes the stream's
// rate (a faster pace would only copy the newest frame again) and is measured from its fifth
// frame, past the cast's start.
void DeviceBgr24(benchmark::State& state) {
    const bool portal = PortalRun();
    for (auto _ : state) {
        TQZCapture::TQZDesktopDevice device;
        device.Width = options.width;
        device.Height = options.height;
        device.FrameRate = portal ? options.sourceRate : 2000;
        const int server = ScreenServerPid();
        const double serverBefore = ProcessCpu(server);
        const double cpuBefore = OwnCpu(), start = Wall();
        double frames = 0;
        auto sample = [&] {
            Measure m;
            m.units = frames;
            m.wall = Wall() - start;
            m.own = OwnCpu() - cpuBefore;
            m.server = ProcessCpu(server) - serverBefore;
            return m;
        };
        Measure from;
        if (device.Open()) {
            while (frames < options.frames && Wall() - start < 60) {
                if (device.Packets.Count() == 0) {
                    std::this_thread::sleep_for(std::chrono::microseconds(200));
                    continue;
                }
                const TQZCapture::TQZPacket* packet = device.Query();
                if (packet->Size() == uint64_t(options.width) * options.height * 3) ++frames;
                if (portal && frames == options.frames / 5) from = sample();
            }
            device.Close();
        }
        Report(state, portal ? "portal_device_bgr24" : "device_bgr24", Beyond(from, sample()),
               false);
    }
}

// PipeWire's own GStreamer source on the node the portal hands out, its frames thrown away as
// they come (`bgr`: converted first to 24-bit BGR, what the desktop device delivers). The caps
// after the source are needed: offered ANY by fakesink, pipewiresrc offers the node no format
// and never connects.
void GstPipewire(benchmark::State& state, bool bgr) {
    auto run = [bgr](unsigned frames) {
        std::vector<std::string> argv = {"gst-launch-1.0",
                                         "-q",
                                         "pipewiresrc",
                                         "target-object=" + options.pipewireNode,
                                         "num-buffers=" + std::to_string(frames),
                                         "!",
                                         "video/x-raw",
                                         "!"};
        if (bgr) argv.insert(argv.end(), {"videoconvert", "!", "video/x-raw,format=BGR", "!"});
        argv.push_back("fakesink");
        return ChildMeasure(argv, ScreenServerPid(), [frames] { return double(frames); });
    };
    for (auto _ : state) {
        const Measure shorter = run(options.frames / 5);
        Report(state, bgr ? "gst_pipewiresrc_bgr" : "gst_pipewiresrc",
               Beyond(shorter, run(options.frames)), false);
    }
}

void FfmpegBgr24(benchmark::State& state) {
    auto run = [](unsigned frames) {
        std::vector<std::string> argv = FfmpegGrab("1000", frames);
        argv.insert(argv.end(), {"-pix_fmt", "bgr24", "-f", "rawvideo", "-y", "/dev/null"});
        return ChildMeasure(argv, XServerPid(), [frames] { return double(frames); });
    };
    for (auto _ : state) {
        const Measure shorter = run(options.frames / 5);
        Report(state, "ffmpeg_bgr24", Beyond(shorter, run(options.frames)), false);
    }
}

class AudioCounter : public TQZCapture::ICaptureAudioCallBack {
public:
    void OnAudioStart() override {}
    void OnAudioStop() override {}
    void OnAudioError(unsigned int) override {}
    void OnAudioFrame(double, unsigned char* data, long length) override {
        if (data != nullptr && length > 0) bytes += uint64_t(length);
    }
    std::atomic<uint64_t> bytes{0};
};

// Audio is measured in its steady state, from a fifth of the run to its end: what the
// capturing process and the sound server ran meanwhile, against the audio that arrived (for a
// live source, the seconds that passed). Start-up, Open and Close are left out on both sides.
// The totals so far of a run that started at `start`.
Measure SampleAudio(double start, double own, double units) {
    Measure m;
    m.units = units;
    m.wall = Wall() - start;
    m.own = own;
    m.server = ProcessCpu(SoundServerPid());
    return m;
}
void SleepSeconds(double seconds) {
    std::this_thread::sleep_for(std::chrono::duration<double>(seconds));
}

void DeviceAudio(benchmark::State& state) {
    TQZCapture::TQZUSBAudioDeviceSet devices;
    TQZCapture::TQZEnumDevice::EnumAudioDevice(devices);
    TQZCapture::TQZUSBAudioDevice* device = devices.GetByIndex(0);
    if (device == nullptr) {
        state.SkipWithError("no audio input device");
        return;
    }
    state.SetLabel(device->Name);
    device->SampleRate = 44100;
    device->BitsPerSample = 16;
    device->Channels = 2;
    for (auto _ : state) {
        AudioCounter counter;
        auto seconds = [&counter] { return double(counter.bytes.load()) / (44100.0 * 4); };
        const double start = Wall();
        Measure from, to;
        if (VornHooks::OpenDevice(*device, &counter)) {
            SleepSeconds(options.seconds / 5);
            from = SampleAudio(start, OwnCpu(), seconds());
            SleepSeconds(options.seconds * 4 / 5);
            to = SampleAudio(start, OwnCpu(), seconds());
        }
        VornHooks::CloseDevice(*device);
        Report(state, "device_audio", Beyond(from, to), true);
    }
}

void FfmpegAudio(benchmark::State& state) {
    char text[32];
    std::snprintf(text, sizeof text, "%g", options.seconds + 1);  // outlasts the samples
    const std::vector<std::string> argv = {
        "ffmpeg",       "-nostdin", "-loglevel", "error", "-f", "pulse",
        "-sample_rate", "44100",    "-channels", "2",     "-i", options.pulseSource,
        "-t",           text,       "-f",        "s16le", "-y", "/dev/null"};
    for (auto _ : state) {
        Measure from, to;
        const ChildRun run = RunChild(argv, [&](pid_t pid) {
            const double start = Wall();
            SleepSeconds(options.seconds / 5);
            from = SampleAudio(start, ProcessCpu(pid), Wall() - start);
            SleepSeconds(options.seconds * 4 / 5);
            to = SampleAudio(start, ProcessCpu(pid), Wall() - start);
        });
        Report(state, "ffmpeg_audio", run.ok ? Beyond(from, to) : Measure{}, true);
    }
}

// ---- summary ----------------------------------------------------------------------------------

// Each figure's median over the repetitions, taken on its own: one run's wall time can go
// astray (ffmpeg's start-up varies) without its processor times doing so, and the other way round.
struct Figures {
    double rate = 0, own = 0, server = 0, total = 0;
};
bool Medians(const std::string& name, Figures* f) {
    auto it = results.find(name);
    if (it == results.end() || it->second.empty()) return false;
    auto median = [&it](double (Measure::*figure)() const) {
        std::vector<double> values;
        for (const Measure& m : it->second) values.push_back((m.*figure)());
        std::sort(values.begin(), values.end());
        return values[values.size() / 2];
    };
    f->rate = median(&Measure::Rate);
    f->own = median(&Measure::OwnPer) * 1e3;
    f->server = median(&Measure::ServerPer) * 1e3;
    f->total = median(&Measure::TotalPer) * 1e3;
    return true;
}

// `peer` names the program compared with, `server` the server whose time is counted.
void Summary(const std::string& label, const std::string& ours, const std::string& peer, bool audio,
             const char* peerName = "ffmpeg", const char* server = "X") {
    Figures a, b;
    if (!Medians(ours, &a) || !Medians(peer, &b)) return;
    if (audio) {
        std::printf(
            "summary %s: ours %.2f + server %.2f = %.2f ms per s of audio, ffmpeg %.2f + server"
            " %.2f = %.2f; ours/ffmpeg cpu = %.2f\n",
            label.c_str(), a.own, a.server, a.total, b.own, b.server, b.total, a.total / b.total);
        return;
    }
    std::printf(
        "summary %s: ours %.1f fps, %.2f + %s %.2f = %.2f ms per frame; %s %.1f fps, %.2f + %s"
        " %.2f = %.2f; ours/%s fps = %.2f, cpu = %.2f\n",
        label.c_str(), a.rate, a.own, server, a.server, a.total, peerName, b.rate, b.own, server,
        b.server, b.total, peerName, a.rate / b.rate, a.total / b.total);
}

bool TakeOption(const char* arg) {
    auto value = [arg](const char* name) -> const char* {
        const size_t n = std::strlen(name);
        return std::strncmp(arg, name, n) == 0 ? arg + n : nullptr;
    };
    if (const char* v = value("--vmcapture="))
        options.vmcapture = v;
    else if (const char* v = value("--size="))
        std::sscanf(v, "%ux%u", &options.width, &options.height);
    else if (const char* v = value("--frames="))
        options.frames = unsigned(std::atoi(v));
    else if (const char* v = value("--seconds="))
        options.seconds = std::atof(v);
    else if (const char* v = value("--out-dir="))
        options.outDir = v;
    else if (const char* v = value("--pulse-source="))
        options.pulseSource = v;
    else if (const char* v = value("--xserver-pid="))
        options.xServer = std::atoi(v);
    else if (const char* v = value("--sound-server-pid="))
        options.soundServer = std::atoi(v);
    else if (const char* v = value("--pipewire-node="))
        options.pipewireNode = v;
    else if (const char* v = value("--pipewire-pid="))
        options.pipewireServer = std::atoi(v);
    else if (const char* v = value("--source-rate="))
        options.sourceRate = unsigned(std::atoi(v));
    else
        return false;
    return true;
}

}  // namespace

int main(int argc, char** argv) {
    // Line by line, so that these lines keep their place among Google Benchmark's on stderr.
    std::setvbuf(stdout, nullptr, _IOLBF, 0);
    std::vector<char*> rest = {argv[0]};
    for (int i = 1; i < argc; ++i) {
        if (!TakeOption(argv[i])) rest.push_back(argv[i]);
    }
    int restCount = int(rest.size());
    if (options.outDir.empty()) {
        const char* tmp = std::getenv("TMPDIR");
        options.outDir = tmp != nullptr && *tmp != '\0' ? tmp : "/tmp";
    }
    const char* display = std::getenv("DISPLAY");
    options.display = display != nullptr ? display : "";
    // ":99.0" names screen 0 of display :99; the server is started with ":99".
    const size_t dot = options.display.rfind('.');
    if (dot != std::string::npos && dot > options.display.rfind(':')) options.display.resize(dot);
    std::printf(
        "world: %s, display %s (X server pid %d), sound server pid %d, %s, %u frames a run\n",
        VornWorld::WorldName(VornWorld::CurrentWorld()),
        options.display.empty() ? "none" : options.display.c_str(), XServerPid(), SoundServerPid(),
        SizeText().c_str(), options.frames);

    auto video = [](benchmark::internal::Benchmark* b) {
        b->Iterations(1)->UseManualTime()->Unit(benchmark::kMillisecond);
    };
    if (PortalRun()) {
        std::printf("portal: node %s, PipeWire daemon pid %d, %u frames a second\n",
                    options.pipewireNode.c_str(), options.pipewireServer, options.sourceRate);
        video(benchmark::RegisterBenchmark("portal_device_bgr24", DeviceBgr24));
        video(benchmark::RegisterBenchmark("gst_pipewiresrc", GstPipewire, false));
        video(benchmark::RegisterBenchmark("gst_pipewiresrc_bgr", GstPipewire, true));
    } else if (!options.display.empty()) {
        for (Pace pace : {Pace::Paced30, Pace::Unpaced}) {
            video(benchmark::RegisterBenchmark((std::string("tool_y4m/") + PaceName(pace)).c_str(),
                                               ToolY4m, pace));
            video(benchmark::RegisterBenchmark(
                (std::string("ffmpeg_y4m/") + PaceName(pace)).c_str(), FfmpegY4m, pace));
        }
        video(benchmark::RegisterBenchmark("device_bgr24", DeviceBgr24));
        video(benchmark::RegisterBenchmark("ffmpeg_bgr24", FfmpegBgr24));
    } else {
        std::printf("no DISPLAY: the video comparisons are left out\n");
    }
    if (!PortalRun()) video(benchmark::RegisterBenchmark("device_audio", DeviceAudio));
    if (!PortalRun() && SoundServerPid() != 0) {
        video(benchmark::RegisterBenchmark("ffmpeg_audio", FfmpegAudio));
    } else {
        std::printf("no sound server: ffmpeg's audio capture is left out\n");
    }

    benchmark::Initialize(&restCount, rest.data());
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();

    std::printf("\n");
    for (Pace pace : {Pace::Paced30, Pace::Unpaced}) {
        Summary(std::string("y4m ") + PaceName(pace), std::string("tool_y4m/") + PaceName(pace),
                std::string("ffmpeg_y4m/") + PaceName(pace), false);
    }
    Summary("bgr24 unpaced", "device_bgr24", "ffmpeg_bgr24", false);
    Summary("audio", "device_audio", "ffmpeg_audio", true);
    Summary("portal bgr24", "portal_device_bgr24", "gst_pipewiresrc", false, "pipewiresrc",
            "PipeWire");
    Summary("portal bgr24 beside a conversion to BGR", "portal_device_bgr24", "gst_pipewiresrc_bgr",
            false, "pipewiresrc+videoconvert", "PipeWire");
    return 0;
}
