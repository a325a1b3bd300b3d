// SPDX-License-Identifier: MIT
// The camera and voice devices on the virtual media world: every failure box, the format asked
// of the device and read back, grabbing one sample per Get or Query, the bounded wait, the
// copies sharing a graph, and no object or streaming thread left behind.
#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <string>
#include <thread>
#include <utility>
#include <vector>

#include "driven_clock.h"
#include "media_fixture.h"
#include "internal/pull/pullgraph.h"
#include "tqzcameradevice.h"
#include "tqzpacket.h"
#include "tqzvoicedevice.h"

using TQZCapture::TQZPacket;
using VornWorld::MediaKind;

namespace {

class Camera : public TQZCapture::TQZCameraDevice {
public:
    static constexpr MediaKind kKind = MediaKind::Video;
    static constexpr unsigned long kBytes = 640 * 480 * 3;  // one frame of the default size
};

class Voice : public TQZCapture::TQZVoiceDevice {
public:
    static constexpr MediaKind kKind = MediaKind::Audio;
    static constexpr unsigned long kBytes = 8820;  // 50 ms of 44100 Hz 16-bit stereo
};

using PullTest = MediaDeviceTest;

template <class Device>
class PullTwinTest : public PullTest {};
using Twins = ::testing::Types<Camera, Voice>;
TYPED_TEST_SUITE(PullTwinTest, Twins);

enum Which { kCamera = 1, kVoice = 2, kBoth = 3 };

struct BoxCase {
    const char* fault;
    const char* box;  // "text|caption"
    Which devices;
    unsigned skip = 0;
    unsigned index = 0;  // device position; kEmpty: in an empty category
};

const unsigned kEmpty = 0xFFFFFFFEu;
const char* const kBind = "BindFilter Video DeviceFilter |Failed to DeviceFilter to interfaces!";
const char* const kAdd = "AddFilter Video DeviceFilter |Failed to DeviceFilter to interfaces!";
const char* const kRenderer = "Create Video NullRenderer |Failed to NullRenderer to interfaces!";
const char* const kGrabber =
    "add Video SampleGrabberFilter |Failed to SampleGrabberFilter to interfaces!";

// Faults of Open, or positions outside the category; the Stop and Pause faults fail Close and
// Pause of an open device.
const BoxCase kBoxCases[] = {
    {"CoCreateInstance:FilterGraph", "Create Filter Graph|Failed to get Grap interfaces!", kBoth},
    {"CoCreateInstance:SampleGrabber",
     "Create sample grabber BaseFilter |Failed to get sample grabber interfaces!", kBoth},
    {"QueryInterface:IMediaControl", "Create Media Control|Failed to IMediaControl to interfaces!",
     kBoth},
    {"QueryInterface:IMediaEvent", "Create Video mediaevent |Failed to MediaEvent to interfaces!",
     kBoth},
    {"CoCreateInstance:NullRenderer", kRenderer, kBoth},
    {"IFilterGraph::AddFilter", kRenderer, kBoth},
    {"QueryInterface:ISampleGrabber",
     "Create Video SampleGrabber |Failed to SampleGrabber to interfaces!", kBoth},
    {"ISampleGrabber::SetMediaType", kGrabber, kBoth},
    {"IFilterGraph::AddFilter", kGrabber, kBoth, 1},
    {"CoCreateInstance:SystemDeviceEnum", kBind, kBoth},
    {"IFilterGraph::AddFilter", kAdd, kBoth, 2},
    {"IMoniker::BindToObject", kAdd, kBoth},
    {"IPropertyBag::Read", kAdd, kBoth},
    {"QueryInterface:IAMStreamConfig",
     "Create Video AMStreamConfig |Failed to AMStreamConfig to interfaces!", kCamera},
    {"QueryInterface:IAMStreamConfig",
     "Create audio AMStreamConfig |Failed to AMStreamConfig to interfaces!", kVoice},
    {"QueryInterface:IAMBufferNegotiation",
     "Create audio IAMBufferNegotiation |Failed to IAMBufferNegotiation to interfaces!", kVoice},
    {"IAMStreamConfig::GetFormat", "Video GetFormat |Failed to GetFormat to interfaces!", kBoth},
    {"IGraphBuilder::Connect",
     "Create Video GrabberInputPin |Failed to GrabberInputPin to interfaces!", kBoth},
    {"IGraphBuilder::Connect",
     "Create Video GrabberOutputPin |Failed to GrabberOutputPin to interfaces!", kBoth, 1},
    {"ISampleGrabber::GetConnectedMediaType",
     "ConnectedMediaType |Failed to ConnectedMediaType to interfaces!", kBoth},
    {nullptr, kBind, kBoth, 0, 0x80000000u},
    {nullptr, kBind, kBoth, 0, kEmpty},
    {nullptr, kAdd, kBoth, 0, 1},
    {"IMediaControl::Stop", "Close|Couldn't stop the graph!", kBoth},
    {"IMediaControl::Pause", "Pause|Couldn't pause the graph!", kBoth},
};

}  // namespace

TYPED_TEST(PullTwinTest, EveryFailingStepShowsItsBoxWithItsExactTexts) {
    const Which self = std::is_same<TypeParam, Camera>::value ? kCamera : kVoice;
    for (const BoxCase& c : kBoxCases) {
        if ((c.devices & self) == 0) continue;
        const std::string fault = c.fault != nullptr ? c.fault : "";
        SCOPED_TRACE(fault + " after " + std::to_string(c.skip) + " at " + std::to_string(c.index));
        VornWorld::ClearMessageBoxes();
        if (c.index == kEmpty) VornWorld::RemoveAllDevices(TypeParam::kKind);
        const bool atOpen = fault != "IMediaControl::Stop" && fault != "IMediaControl::Pause";
        TypeParam device;
        device.Index = c.index;
        if (atOpen && c.fault != nullptr) VornWorld::FailCall(c.fault, c.skip, 1);
        EXPECT_EQ(!atOpen, device.Open());
        EXPECT_EQ(!atOpen, device.Opened);
        if (!atOpen) {
            VornWorld::FailCall(c.fault, c.skip, 1);
            EXPECT_FALSE(fault == "IMediaControl::Stop" ? device.Close() : device.Pause());
        }
        EXPECT_EQ(fault.empty() ? 0u : 1u, VornWorld::FailedCount(fault.c_str()))
            << "fault not reached";
        EXPECT_EQ(std::vector<std::string>{c.box}, this->BoxTexts());
        if (fault == "IMediaControl::Stop") {  // closed all the same
            EXPECT_FALSE(device.Opened);
            EXPECT_FALSE(device.Graph || device.MediaControl || device.DeviceFilter);
        }
        VornWorld::ClearFaults();
        VornWorld::ResetMedia();
    }
}

TEST_F(PullTest, CameraAsksForItsSizeAndOpenFailsWithoutABoxWhenRefused) {
    const VornWorld::DeviceId id = VornWorld::Devices(MediaKind::Video).at(0);
    for (unsigned int width : {320u, 333u}) {  // 333 x 111 is refused
        Camera camera;
        camera.Width = width;
        camera.Height = width == 320 ? 240 : 111;
        EXPECT_EQ(width == 320, camera.Open() && camera.Opened);
        EXPECT_EQ(std::make_pair(width, width == 320 ? 240u : 111u),
                  std::make_pair(camera.Width, camera.Height));
        const VornWorld::FormatRequest request = VornWorld::Activity(id).formats.back();
        EXPECT_EQ(width == 320, request.result == S_OK);
        EXPECT_EQ(std::make_pair(static_cast<long long>(camera.Width),
                                 static_cast<long long>(camera.Height)),
                  std::make_pair(static_cast<long long>(request.width),
                                 static_cast<long long>(request.height)));
    }
    EXPECT_TRUE(VornWorld::MessageBoxes().empty());
}

TEST_F(PullTest, VoiceWritesTheRequestedFormatAndSuggestsFiftyMillisecondBuffers) {
    struct Case {
        unsigned int rate, bits, channels;
        DWORD writtenRate;
        bool accepted;
        LONG bufferBytes, alignment;
    };
    VornWorld::DeviceConfig config = VornWorld::DefaultMicrophone();
    config.audio.push_back({2, 16, 30464});  // what 96000 Hz becomes in a 16-bit rate field
    VornWorld::RemoveAllDevices(MediaKind::Audio);
    const VornWorld::DeviceId id = VornWorld::AddDevice(config);
    const Case cases[] = {
        {44100, 16, 2, 44100, true, 8820, 32},
        {8000, 8, 1, 8000, true, 400, 8},
        {96000, 16, 2, 30464, true, 6092, 32},     // accepted as 30464 Hz
        {44100, 16, 7, 44100, false, 30870, 112},  // refused: the request stays
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(std::to_string(c.rate) + " Hz " + std::to_string(c.channels) + " ch");
        Voice voice;
        voice.SampleRate = c.rate;
        voice.BitsPerSample = c.bits;
        voice.Channels = c.channels;
        const size_t suggestions = VornWorld::Activity(id).allocators.size();
        ASSERT_TRUE(voice.Open());  // a refused format does not stop Open
        const VornWorld::DeviceActivity activity = VornWorld::Activity(id);
        ASSERT_FALSE(activity.formats.empty());
        const WAVEFORMATEX& wave = activity.formats.back().wave;
        EXPECT_EQ(c.accepted, activity.formats.back().result == S_OK);
        EXPECT_EQ(c.accepted ? c.writtenRate : c.rate, voice.SampleRate);
        EXPECT_EQ(c.bits * 1000 + c.channels, voice.BitsPerSample * 1000 + voice.Channels);
        EXPECT_EQ(
            (std::vector<DWORD>{WAVE_FORMAT_PCM, c.writtenRate, c.bits, c.channels,
                                c.bits * c.channels / 8, c.bits * c.channels / 8 * c.writtenRate}),
            (std::vector<DWORD>{wave.wFormatTag, wave.nSamplesPerSec, wave.wBitsPerSample,
                                wave.nChannels, wave.nBlockAlign, wave.nAvgBytesPerSec}));
        ASSERT_EQ(suggestions + 1, activity.allocators.size());
        const ALLOCATOR_PROPERTIES& p = activity.allocators.back().properties;
        EXPECT_EQ((std::vector<LONG>{6, c.bufferBytes, c.alignment, 0}),
                  (std::vector<LONG>{p.cBuffers, p.cbBuffer, p.cbAlign, p.cbPrefix}));
    }
    EXPECT_TRUE(VornWorld::MessageBoxes().empty());
}

TYPED_TEST(PullTwinTest, EachGetAndQueryGrabsOneNewSampleAndLeavesTheQueueEmpty) {
    const VornWorld::DeviceId id = VornWorld::Devices(TypeParam::kKind).at(0);
    TypeParam device;
    TQZPacket* const closedAnswer = device.Get();  // nothing grabbed while closed
    ASSERT_NE(nullptr, closedAnswer);
    EXPECT_EQ(0u, closedAnswer->Size());
    EXPECT_EQ(0u, VornWorld::Graphs().size());
    ASSERT_TRUE(device.Open());
    double previous = 0;
    unsigned long delivered = VornWorld::Activity(id).samplesDelivered;
    for (int i = 0; i < 6; ++i) {
        TQZPacket* packet = i % 2 == 0 ? device.Get() : device.Query();
        ASSERT_NE(nullptr, packet);
        EXPECT_EQ(TypeParam::kBytes, packet->Size());
        EXPECT_TRUE(device.DataType == packet->DataType && device.DeviceType == packet->DeviceType);
        EXPECT_GE(packet->TimeStamp, previous);
        EXPECT_GT(VornWorld::Activity(id).samplesDelivered, delivered) << "no new sample";
        EXPECT_EQ(0u, device.Packets.Count());
        previous = packet->TimeStamp;
        delivered = VornWorld::Activity(id).samplesDelivered;
    }
    // A paused graph runs again on the next grab.
    ASSERT_TRUE(device.Pause());
    EXPECT_EQ(State_Paused, VornWorld::Graphs().back().state);
    const TQZPacket* last = device.Get();
    EXPECT_EQ(TypeParam::kBytes, last->Size());
    const double stamp = last->TimeStamp;

    // Closed: Get hands out the queue's last packet unchanged and grabs nothing.
    ASSERT_TRUE(device.Close());
    delivered = VornWorld::Activity(id).samplesDelivered;
    EXPECT_EQ(closedAnswer, device.Get());
    EXPECT_EQ(TypeParam::kBytes, closedAnswer->Size());
    EXPECT_EQ(stamp, closedAnswer->TimeStamp);
    EXPECT_EQ(delivered, VornWorld::Activity(id).samplesDelivered);
}

// The microphone goes on capturing between grabs and holds its last second: a host that pulls
// in time loses nothing; one that comes back later loses what the device no longer holds, and
// that loss is counted.
TEST_F(PullTest, PulledVoiceIsContinuousAndALateGrabCountsWhatWasLost) {
    VornWorld::SetMediaClock(VornWorld::MediaClock::Driven);
    Voice voice;
    ASSERT_TRUE(voice.Open());
    const REFERENCE_TIME lostBefore = VornWorld::AudioLost();
    // The first grab starts the microphone: its buffer is due once the clock passed it.
    std::thread first([&] { EXPECT_EQ(Voice::kBytes, voice.Get()->Size()); });
    EXPECT_TRUE(vmc_test::Settled(1));
    ASSERT_TRUE(VornWorld::AdvanceMediaClock(50 * vmc_test::kMs));
    first.join();
    // The device holds what it captured: grabs that come a buffer apart find it there.
    for (int i = 0; i < 3; ++i) {
        ASSERT_TRUE(VornWorld::AdvanceMediaClock(50 * vmc_test::kMs));
        ASSERT_EQ(Voice::kBytes, voice.Get()->Size());
    }
    EXPECT_EQ(lostBefore, VornWorld::AudioLost()) << "grabs in time lose nothing";
    // 1.8 s later: the device holds its last second, so 0.8 s after the last grab are lost.
    ASSERT_TRUE(VornWorld::AdvanceMediaClock(1800 * vmc_test::kMs));
    ASSERT_EQ(Voice::kBytes, voice.Get()->Size());
    EXPECT_EQ(800 * vmc_test::kMs, VornWorld::AudioLost() - lostBefore);
    ASSERT_EQ(Voice::kBytes, voice.Get()->Size());  // held, so nothing more is lost
    EXPECT_EQ(800 * vmc_test::kMs, VornWorld::AudioLost() - lostBefore);
    ASSERT_TRUE(voice.Close());
    VornWorld::SetMediaClock(VornWorld::MediaClock::Free);
}

TYPED_TEST(PullTwinTest, OpenTwiceHoldsOneGraphAndClosingTwiceIsHarmless) {
    for (int cycle = 0; cycle < 3; ++cycle) {
        TypeParam device;
        ASSERT_TRUE(device.Open());
        ASSERT_TRUE(device.Open());
        EXPECT_EQ(1, this->AliveGraphs());
        device.Query();
        if (cycle == 1) continue;  // the destructor closes
        EXPECT_TRUE(device.Close());
        EXPECT_TRUE(device.Close());
        EXPECT_TRUE(device.Pause());
        EXPECT_EQ(0, this->AliveGraphs());
        EXPECT_EQ(0, VornWorld::LiveStreamingThreads());
    }
    EXPECT_EQ(6u, VornWorld::Graphs().size());
    TypeParam device;
    ASSERT_TRUE(device.Open());
    {
        TypeParam copy(device);  // shares the graph
        EXPECT_EQ(device.Graph.Get(), copy.Graph.Get());
        EXPECT_TRUE(copy.Close());
    }
    EXPECT_EQ(1, this->AliveGraphs());  // the original still holds it
    EXPECT_GT(device.Get()->Size(), 0u);
    EXPECT_TRUE(VornWorld::MessageBoxes().empty());
}

TEST_F(PullTest, GrabOfADeviceThatNeverDeliversGivesUpAfterTheBound) {
    VornWorld::DeviceConfig mute = VornWorld::DefaultCamera();
    mute.delivers = false;
    VornWorld::RemoveAllDevices(MediaKind::Video);
    VornWorld::AddDevice(mute);
    Camera camera;
    ASSERT_TRUE(camera.Open());
    const auto start = std::chrono::steady_clock::now();
    TQZPacket* packet = camera.Get();
    const auto waited = std::chrono::duration_cast<std::chrono::milliseconds>(
        std::chrono::steady_clock::now() - start);
    ASSERT_NE(nullptr, packet);
    EXPECT_EQ(0u, packet->Size());
    EXPECT_EQ(0u, camera.Packets.Count());
    EXPECT_GE(waited.count(), TQZCapture::internal::kGrabWaitMs - 100);
    EXPECT_LT(waited.count(), TQZCapture::internal::kGrabWaitMs + 10000);
    EXPECT_EQ(State_Stopped, VornWorld::Graphs().back().state) << "left streaming";
}
