// SPDX-License-Identifier: MIT
// The host world's audio input devices on a sound server that the test command starts with
// a null output and a 440 Hz sine source: the listing, the tone through the push and the pull
// device in every sample layout, the time stamps and buffer sizes, and no server at all.
// Run with VORN_WORLD=host and PULSE_SERVER naming that server.
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdlib>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "host_support.h"
#include "polling.h"
#include "tone.h"
#include "tqzenumdevice.h"
#include "tqzusbaudiodevice.h"
#include "tqzusbaudiodeviceset.h"
#include "tqzvoicedevice.h"
#include "tqzvoicedeviceset.h"
#include "vorn/control/media.h"
#include "vorn/control/world.h"
#include "vornplatform.h"

using namespace TQZCapture;

namespace {

const char kSine[] = "Sine source at 440 Hz";
const char kMonitor[] = "Monitor of Null Output";

template <class Set>
std::vector<std::string> NamesOf(Set& set) {
    std::vector<std::string> names;
    for (unsigned i = 0; i < set.Count(); ++i) names.push_back(set.GetByIndex(i)->Name);
    return names;
}

int IndexOf(const std::vector<std::string>& names, const std::string& name) {
    const auto found = std::find(names.begin(), names.end(), name);
    return found == names.end() ? -1 : static_cast<int>(found - names.begin());
}

class HostAudio : public ::testing::Test {
protected:
    void SetUp() override {
        ASSERT_EQ(VornWorld::WorldKind::Host, VornWorld::CurrentWorld())
            << "run with VORN_WORLD=host";
        TQZVoiceDeviceSet voices;
        TQZEnumDevice::EnumVoiceDevice(voices);
        sine_ = IndexOf(NamesOf(voices), kSine);
        ASSERT_GE(sine_, 0) << "no sine source: is the test's sound server running?";
    }
    int sine_ = -1;
};

class ScopedEnv {
public:
    ScopedEnv(const char* name, const std::string& value)
        : name_(name), had_(std::getenv(name) != nullptr), old_(had_ ? std::getenv(name) : "") {
        setenv(name, value.c_str(), 1);
    }
    ~ScopedEnv() { had_ ? setenv(name_, old_.c_str(), 1) : unsetenv(name_); }

private:
    const char* name_;
    bool had_;
    std::string old_;
};

TEST_F(HostAudio, SourcesAreListedByDescriptionInputsBeforeMonitorsTheSameEachTime) {
    TQZUSBAudioDeviceSet first, second;
    TQZEnumDevice::EnumAudioDevice(first);
    TQZEnumDevice::EnumAudioDevice(second);
    const std::vector<std::string> names = NamesOf(first);
    EXPECT_EQ(names, NamesOf(second));
    const int monitor = IndexOf(names, kMonitor);
    ASSERT_GE(monitor, 0);
    EXPECT_LT(IndexOf(names, kSine), monitor)
        << "the null output's monitor came first on the server";
    EXPECT_EQ(VornWorld::Devices(VornWorld::MediaKind::Audio),
              VornWorld::Devices(VornWorld::MediaKind::Audio))
        << "a device keeps its id between enumerations";
}

TEST_F(HostAudio, TheWorldCannotBeShaped) {
    const auto before = VornWorld::Devices(VornWorld::MediaKind::Audio);
    EXPECT_FALSE(VornWorld::ResetMedia());
    EXPECT_EQ(VornWorld::kNoDevice, VornWorld::AddDevice(VornWorld::DefaultMicrophone()));
    EXPECT_FALSE(VornWorld::RemoveDevice(before.front()));
    EXPECT_FALSE(VornWorld::MoveDevice(before.front(), 1));
    EXPECT_FALSE(VornWorld::RemoveAllDevices(VornWorld::MediaKind::Audio));
    EXPECT_EQ(before, VornWorld::Devices(VornWorld::MediaKind::Audio));
}

// What the push device hands to the host.
class Collector : public ICaptureAudioCallBack {
public:
    void OnAudioStart() override {}
    void OnAudioStop() override {}
    void OnAudioError(unsigned int) override {}
    void OnAudioFrame(double time, unsigned char* data, long bytes) override {
        std::lock_guard<std::mutex> lock(mutex_);
        times_.push_back(time);
        lengths_.push_back(bytes);
        audio_.insert(audio_.end(), data, data + bytes);
    }
    size_t Bytes() {
        std::lock_guard<std::mutex> lock(mutex_);
        return audio_.size();
    }
    std::vector<double> times_;
    std::vector<long> lengths_;
    std::vector<uint8_t> audio_;

private:
    std::mutex mutex_;
};

TEST_F(HostAudio, PushDeviceDeliversTheToneInBuffersOfTheSuggestedSizeWithSteadyTimes) {
    TQZUSBAudioDeviceSet set;
    TQZEnumDevice::EnumAudioDevice(set);
    TQZUSBAudioDevice* device = set.GetByName(kSine);
    ASSERT_NE(nullptr, device);
    Collector sink;
    const REFERENCE_TIME lostBefore = VornWorld::AudioLost();
    vmc_test::HostOpened open(*device, static_cast<ICaptureAudioCallBack*>(&sink));
    ASSERT_TRUE(open.Opened());
    const size_t second = 176400;
    bool enough = vmc_test::Eventually([&] { return sink.Bytes() >= second; });
    open.Close();
    ASSERT_TRUE(enough) << sink.Bytes() << " bytes in five seconds";

    // 20 ms buffers of 44100 Hz 16-bit stereo, stamped 20 ms apart from the start.
    for (size_t i = 0; i < sink.lengths_.size(); ++i) {
        ASSERT_EQ(3528, sink.lengths_[i]) << "buffer " << i;
        ASSERT_NEAR(0.02 * static_cast<double>(i), sink.times_[i], 1e-6) << "buffer " << i;
    }
    auto samples = vmc_test::FirstChannel(sink.audio_.data(), second, 16, 2);
    EXPECT_NEAR(440.0, vmc_test::DominantFrequency(samples, 44100), 2.0);
    EXPECT_TRUE(vmc_test::Unbroken(vmc_test::MeasureContinuity(samples, 44100, 440), 16));
    EXPECT_EQ(lostBefore, VornWorld::AudioLost());
}

struct Layout {
    int bits;
    int channels;
    int rate;
};

class PullFormats : public HostAudio, public ::testing::WithParamInterface<Layout> {};

// The pull device asks each layout of the server, which converts: the fields keep it, and one
// packet is 50 ms of the tone in it. (The device carries rates below 65536 Hz only.)
TEST_P(PullFormats, VoiceDeviceGetsFiftyMillisecondsOfTheTone) {
    const Layout layout = GetParam();
    TQZVoiceDeviceSet set;
    TQZEnumDevice::EnumVoiceDevice(set);
    TQZVoiceDevice* device = set.GetByIndex(static_cast<unsigned>(sine_));
    ASSERT_NE(nullptr, device);
    device->BitsPerSample = layout.bits;
    device->Channels = layout.channels;
    device->SampleRate = layout.rate;
    vmc_test::HostOpened open(*device);
    ASSERT_TRUE(open.Opened());
    EXPECT_EQ(layout.bits, device->BitsPerSample);
    EXPECT_EQ(layout.channels, device->Channels);
    EXPECT_EQ(layout.rate, device->SampleRate);
    TQZPacket* packet = device->Get();
    ASSERT_NE(nullptr, packet);
    // The 50 ms the device suggests, in whole sample frames.
    const unsigned long block = static_cast<unsigned long>(layout.bits / 8 * layout.channels);
    const auto suggested =
        static_cast<unsigned long>(layout.bits * layout.rate * layout.channels / 8 * 0.05);
    EXPECT_EQ(suggested / block * block, packet->Size());
    auto samples = vmc_test::FirstChannel(static_cast<const uint8_t*>(packet->Bytes()),
                                          packet->Size(), layout.bits, layout.channels);
    // 50 ms resolve the tone to a few hertz.
    EXPECT_NEAR(440.0, vmc_test::DominantFrequency(samples, layout.rate, 100, 2000), 6.0);
}

INSTANTIATE_TEST_SUITE_P(Layouts, PullFormats,
                         ::testing::Values(Layout{8, 1, 8000}, Layout{16, 2, 44100},
                                           Layout{16, 1, 22050}, Layout{24, 2, 48000},
                                           Layout{24, 1, 32000}, Layout{32, 1, 16000},
                                           Layout{32, 2, 44100}),
                         [](const ::testing::TestParamInfo<Layout>& info) {
                             const Layout& l = info.param;
                             return std::to_string(l.bits) + "bit" + std::to_string(l.channels) +
                                    "ch" + std::to_string(l.rate);
                         });

// Opens the voice device on the sine source in 44100 Hz 16-bit stereo (50 ms packets).
class PulledSine {
public:
    explicit PulledSine(int index) : device_(Enumerated(set_, index)), open_(*device_) {}
    bool Open() const { return open_.Opened(); }
    // The first channel of the next packet appended to `samples`; false without one.
    bool Append(std::vector<double>& samples) {
        TQZPacket* packet = device_->Get();
        if (packet == nullptr || packet->Size() != 8820) return false;
        auto more = vmc_test::FirstChannel(static_cast<const uint8_t*>(packet->Bytes()),
                                           packet->Size(), 16, 2);
        samples.insert(samples.end(), more.begin(), more.end());
        return true;
    }

private:
    static TQZVoiceDevice* Enumerated(TQZVoiceDeviceSet& set, int index) {
        TQZEnumDevice::EnumVoiceDevice(set);
        return set.GetByIndex(static_cast<unsigned>(index));
    }
    TQZVoiceDeviceSet set_;
    TQZVoiceDevice* device_;
    vmc_test::HostOpened open_;
};

// The source's stream stays open between one Get and the next: a host that asks at least as
// often as the packets come gets each one where the last ended, nothing is counted as lost,
// and the open stream goes on even when a new connection to the server could not be made.
TEST_F(HostAudio, PulledPacketsFollowEachOtherWithoutAGap) {
    PulledSine pulled(sine_);
    ASSERT_TRUE(pulled.Open());
    const REFERENCE_TIME lostBefore = VornWorld::AudioLost();
    std::vector<double> samples;
    for (int i = 0; i < 30; ++i) ASSERT_TRUE(pulled.Append(samples)) << "packet " << i;
    {
        ScopedEnv server("PULSE_SERVER", "unix:/nonexistent/vmc-native");
        for (int i = 0; i < 10; ++i) ASSERT_TRUE(pulled.Append(samples)) << "packet " << i;
    }
    const vmc_test::Continuity c = vmc_test::MeasureContinuity(samples, 44100, 440);
    EXPECT_TRUE(vmc_test::Unbroken(c, 16))
        << "step " << c.step / c.cleanStep << " x a clean sine's at sample " << c.stepAt
        << ", recurrence missed by " << c.miss / c.peak << " of the peak at " << c.missAt;
    EXPECT_EQ(lostBefore, VornWorld::AudioLost());
}

// A host that does not ask for 12 s: the source keeps 10 s for it, and the rest is counted
// as lost, once, when the packet after the gap is delivered; the device's records say so too.
TEST_F(HostAudio, AHostThatPullsTooSlowlyLosesAudioAndTheLossIsCounted) {
    PulledSine pulled(sine_);
    ASSERT_TRUE(pulled.Open());
    const REFERENCE_TIME lostBefore = VornWorld::AudioLost();
    std::vector<double> samples;
    ASSERT_TRUE(pulled.Append(samples));
    std::this_thread::sleep_for(std::chrono::seconds(12));
    for (int i = 0; i < 260 && VornWorld::AudioLost() == lostBefore; ++i)
        ASSERT_TRUE(pulled.Append(samples));
    const double lost = static_cast<double>(VornWorld::AudioLost() - lostBefore) / 1e7;
    // 12 s passed and 10 s were kept; the test's sine source sends up to 2 s ahead of time.
    EXPECT_GT(lost, 1.5);
    EXPECT_LT(lost, 4.5);
    // One packet before the pause, the 10 s kept (200 packets; the server's fragments are
    // larger than a packet), and the packet after the gap.
    EXPECT_NEAR(202.0, static_cast<double>(samples.size()) / 2205, 2.0);
    unsigned long gaps = 0;
    for (VornWorld::DeviceId id : VornWorld::Devices(VornWorld::MediaKind::Audio))
        gaps += VornWorld::Activity(id).audioGaps;
    EXPECT_GE(gaps, 1u);
}

// A listening socket that never answers: a server that hangs during the handshake.
class SilentServer {
public:
    SilentServer() : path_("/tmp/vmc-silent-" + std::to_string(getpid())) {
        fd_ = socket(AF_UNIX, SOCK_STREAM, 0);
        sockaddr_un address{};
        address.sun_family = AF_UNIX;
        path_.copy(address.sun_path, sizeof address.sun_path - 1);
        unlink(path_.c_str());
        if (bind(fd_, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0 ||
            listen(fd_, 4) != 0) {
            close(fd_);
            fd_ = -1;
        }
    }
    ~SilentServer() {
        if (fd_ >= 0) close(fd_);
        unlink(path_.c_str());
    }
    bool Ok() const { return fd_ >= 0; }
    std::string Address() const { return "unix:" + path_; }

private:
    std::string path_;
    int fd_ = -1;
};

// The voice devices listed with PULSE_SERVER at `address`, and how long the listing took.
unsigned VoiceDevices(const std::string& address, double* seconds) {
    ScopedEnv server("PULSE_SERVER", address);
    const auto begin = std::chrono::steady_clock::now();
    TQZVoiceDeviceSet set;
    TQZEnumDevice::EnumVoiceDevice(set);
    *seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - begin).count();
    return set.Count();
}

TEST(HostAudioWithoutServer, TheCategoryIsEmptyAndSoon) {
    double seconds = 0;
    EXPECT_EQ(0u, VoiceDevices("unix:/nonexistent/vmc-native", &seconds));
    EXPECT_LT(seconds, 1.5) << "no server to reach";
    SilentServer silent;
    ASSERT_TRUE(silent.Ok());
    EXPECT_EQ(0u, VoiceDevices(silent.Address(), &seconds));
    EXPECT_LT(seconds, 6.0) << "a server that never answers is given up on";
}

// Run by the host-audio stage on its own, last, with VMC_KILL_SERVER naming the process id of
// its sound server: the server is killed while the push device records. The callbacks stop
// after the audio received, which is unbroken, and closing the device leaves no streaming
// thread and no object behind.
TEST(HostAudioServerKilled, PushDeviceEndsWithWhatItGotAndLeavesNothingBehind) {
    const char* server = std::getenv("VMC_KILL_SERVER");
    if (server == nullptr) GTEST_SKIP() << "kills the sound server: run by the host-audio stage";
    const long objects = VornWorld::LiveComObjects();
    const long threads = VornWorld::LiveStreamingThreads();
    Collector sink;
    {
        TQZUSBAudioDeviceSet set;
        TQZEnumDevice::EnumAudioDevice(set);
        TQZUSBAudioDevice* device = set.GetByName(kSine);
        ASSERT_NE(nullptr, device);
        vmc_test::HostOpened open(*device, static_cast<ICaptureAudioCallBack*>(&sink));
        ASSERT_TRUE(open.Opened());
        ASSERT_TRUE(vmc_test::Eventually([&] { return sink.Bytes() >= 88200; }));
        ASSERT_EQ(0, kill(static_cast<pid_t>(std::atol(server)), SIGKILL));
        // The stream ends: no buffer for half a second.
        EXPECT_TRUE(vmc_test::Eventually([&] {
            const size_t before = sink.Bytes();
            std::this_thread::sleep_for(std::chrono::milliseconds(500));
            return sink.Bytes() == before;
        }));
    }
    EXPECT_EQ(threads, VornWorld::LiveStreamingThreads());
    EXPECT_EQ(objects, VornWorld::LiveComObjects());
    auto samples = vmc_test::FirstChannel(sink.audio_.data(), sink.audio_.size(), 16, 2);
    EXPECT_TRUE(vmc_test::Unbroken(vmc_test::MeasureContinuity(samples, 44100, 440), 16));
}

}  // namespace
