// The camera and voice devices on the virtual media world: every failure box, the format asked
// of the device and read back, grabbing one sample per Get or Query, the bounded wait, the
// crossbar route, and no object or streaming thread left behind.
#include <gtest/gtest.h>

#include <chrono>
#include <cstring>
#include <memory>
#include <string>
#include <vector>

#include "pullgraph.h"
#include "tqzcameradevice.h"
#include "tqzpacket.h"
#include "tqzvoicedevice.h"
#include "vorn/control/display.h"
#include "vorn/control/faults.h"
#include "vorn/control/media.h"

using TQZCapture::TQZPacket;
using VornWorld::MediaKind;

namespace {

class Camera : public TQZCapture::TQZCameraDevice {
public:
    using TQZCameraDevice::BindFilter;
    using TQZCameraDevice::SetCrossBar;
};

class Voice : public TQZCapture::TQZVoiceDevice {
public:
    using TQZVoiceDevice::BindFilter;
};

class PullTest : public ::testing::Test {
protected:
    void SetUp() override {
        VornWorld::ClearFaults();
        VornWorld::ResetMedia();
        VornWorld::ClearMessageBoxes();
        VornWorld::EchoMessageBoxes(false);
        objects_ = VornWorld::LiveComObjects();
        memory_ = VornWorld::LiveTaskMemBlocks();
        strings_ = VornWorld::LiveBstrs();
    }
    void TearDown() override {
        VornWorld::ClearFaults();
        EXPECT_EQ(objects_, VornWorld::LiveComObjects()) << "COM objects leaked";
        EXPECT_EQ(0, VornWorld::LiveStreamingThreads()) << "streaming threads left";
        EXPECT_EQ(memory_, VornWorld::LiveTaskMemBlocks()) << "task memory leaked";
        EXPECT_EQ(strings_, VornWorld::LiveBstrs()) << "strings leaked";
        VornWorld::ClearMessageBoxes();
    }

    static VornWorld::DeviceId Only(MediaKind kind) {
        std::vector<VornWorld::DeviceId> ids = VornWorld::Devices(kind);
        return ids.size() == 1 ? ids[0] : VornWorld::kNoDevice;
    }
    // Replaces the devices of a kind by one made from `config`.
    static VornWorld::DeviceId UseOnly(const VornWorld::DeviceConfig& config) {
        VornWorld::RemoveAllDevices(config.kind);
        return VornWorld::AddDevice(config);
    }
    static std::vector<std::string> BoxTexts() {
        std::vector<std::string> texts;
        for (const auto& box : VornWorld::MessageBoxes())
            texts.push_back(box.text + "|" + box.caption);
        return texts;
    }
    static long AliveGraphs() {
        long alive = 0;
        for (const auto& graph : VornWorld::Graphs()) alive += graph.alive ? 1 : 0;
        return alive;
    }

private:
    long objects_ = 0;
    long memory_ = 0;
    long strings_ = 0;
};

enum Which { kCamera = 1, kVoice = 2, kBoth = 3 };
enum class Step { Open, Close, Pause };

struct BoxCase {
    const char* fault;
    unsigned skip;
    Which devices;
    Step step;  // the operation that fails; the steps before it succeed
    const char* text;
    const char* caption;
};

const BoxCase kBoxCases[] = {
    {"CoCreateInstance:FilterGraph", 0, kBoth, Step::Open, "Create Filter Graph",
     "Failed to get Grap interfaces!"},
    {"CoCreateInstance:SampleGrabber", 0, kBoth, Step::Open, "Create sample grabber BaseFilter ",
     "Failed to get sample grabber interfaces!"},
    {"QueryInterface:IMediaControl", 0, kBoth, Step::Open, "Create Media Control",
     "Failed to IMediaControl to interfaces!"},
    {"QueryInterface:IMediaEvent", 0, kBoth, Step::Open, "Create Video mediaevent ",
     "Failed to MediaEvent to interfaces!"},
    {"CoCreateInstance:NullRenderer", 0, kBoth, Step::Open, "Create Video NullRenderer ",
     "Failed to NullRenderer to interfaces!"},
    {"IFilterGraph::AddFilter", 0, kBoth, Step::Open, "Create Video NullRenderer ",
     "Failed to NullRenderer to interfaces!"},
    {"QueryInterface:ISampleGrabber", 0, kBoth, Step::Open, "Create Video SampleGrabber ",
     "Failed to SampleGrabber to interfaces!"},
    {"ISampleGrabber::SetMediaType", 0, kBoth, Step::Open, "add Video SampleGrabberFilter ",
     "Failed to SampleGrabberFilter to interfaces!"},
    {"IFilterGraph::AddFilter", 1, kBoth, Step::Open, "add Video SampleGrabberFilter ",
     "Failed to SampleGrabberFilter to interfaces!"},
    {"CoCreateInstance:SystemDeviceEnum", 0, kBoth, Step::Open, "BindFilter Video DeviceFilter ",
     "Failed to DeviceFilter to interfaces!"},
    {"ICreateDevEnum::CreateClassEnumerator", 0, kBoth, Step::Open,
     "BindFilter Video DeviceFilter ", "Failed to DeviceFilter to interfaces!"},
    {"IFilterGraph::AddFilter", 2, kBoth, Step::Open, "AddFilter Video DeviceFilter ",
     "Failed to DeviceFilter to interfaces!"},
    {"IMoniker::BindToObject", 0, kBoth, Step::Open, "AddFilter Video DeviceFilter ",
     "Failed to DeviceFilter to interfaces!"},
    {"IPropertyBag::Read", 0, kBoth, Step::Open, "AddFilter Video DeviceFilter ",
     "Failed to DeviceFilter to interfaces!"},
    {"QueryInterface:IAMStreamConfig", 0, kCamera, Step::Open, "Create Video AMStreamConfig ",
     "Failed to AMStreamConfig to interfaces!"},
    {"QueryInterface:IAMStreamConfig", 0, kVoice, Step::Open, "Create audio AMStreamConfig ",
     "Failed to AMStreamConfig to interfaces!"},
    {"QueryInterface:IAMBufferNegotiation", 0, kVoice, Step::Open,
     "Create audio IAMBufferNegotiation ", "Failed to IAMBufferNegotiation to interfaces!"},
    {"IAMStreamConfig::GetFormat", 0, kBoth, Step::Open, "Video GetFormat ",
     "Failed to GetFormat to interfaces!"},
    {"IGraphBuilder::Connect", 0, kBoth, Step::Open, "Create Video GrabberInputPin ",
     "Failed to GrabberInputPin to interfaces!"},
    {"IGraphBuilder::Connect", 1, kBoth, Step::Open, "Create Video GrabberOutputPin ",
     "Failed to GrabberOutputPin to interfaces!"},
    {"ISampleGrabber::GetConnectedMediaType", 0, kBoth, Step::Open, "ConnectedMediaType ",
     "Failed to ConnectedMediaType to interfaces!"},
    {"IMediaControl::Stop", 0, kBoth, Step::Close, "Close", "Couldn't stop the graph!"},
    {"IMediaControl::Pause", 0, kBoth, Step::Pause, "Pause", "Couldn't pause the graph!"},
};

template <class Device>
void CheckBox(const BoxCase& c) {
    VornWorld::ClearFaults();
    VornWorld::ClearMessageBoxes();
    Device device;
    if (c.step == Step::Open) VornWorld::FailCall(c.fault, c.skip, 1);
    const bool opened = device.Open();
    EXPECT_EQ(c.step != Step::Open, opened);
    EXPECT_EQ(c.step != Step::Open, device.Opened);
    if (c.step != Step::Open) {
        VornWorld::FailCall(c.fault, c.skip, 1);
        EXPECT_FALSE(c.step == Step::Close ? device.Close() : device.Pause());
    }
    EXPECT_EQ(1u, VornWorld::FailedCount(c.fault)) << "the fault was not reached";
    const auto boxes = VornWorld::MessageBoxes();
    ASSERT_EQ(1u, boxes.size());
    EXPECT_EQ(c.text, boxes[0].text);
    EXPECT_EQ(c.caption, boxes[0].caption);
    EXPECT_EQ(nullptr, boxes[0].owner);
    EXPECT_EQ(static_cast<UINT>(MB_OK), boxes[0].type);
    if (c.step == Step::Close) {  // closed all the same
        EXPECT_FALSE(device.Opened);
        EXPECT_FALSE(device.Graph || device.MediaControl || device.DeviceFilter);
    }
}

TEST_F(PullTest, EveryFailingStepShowsItsBoxWithItsExactTexts) {
    for (const BoxCase& c : kBoxCases) {
        SCOPED_TRACE(std::string(c.fault) + " after " + std::to_string(c.skip));
        if (c.devices & kCamera) {
            SCOPED_TRACE("camera");
            CheckBox<Camera>(c);
        }
        if (c.devices & kVoice) {
            SCOPED_TRACE("voice");
            CheckBox<Voice>(c);
        }
    }
}

TEST_F(PullTest, DevicePositionsOutsideTheCategoryStopOpenAtTheBindingBoxes) {
    const std::string bind = "BindFilter Video DeviceFilter |Failed to DeviceFilter to interfaces!";
    const std::string add = "AddFilter Video DeviceFilter |Failed to DeviceFilter to interfaces!";
    struct Case {
        unsigned int index;
        bool emptyCategory;
        std::string box;
    };
    for (const Case& c : {Case{0xFFFFFFFFu, false, bind}, Case{0x80000000u, false, bind},
                          Case{1, false, add}, Case{7, false, add}, Case{0, true, bind}}) {
        SCOPED_TRACE(std::to_string(c.index) + (c.emptyCategory ? " in an empty category" : ""));
        if (c.emptyCategory) {
            VornWorld::RemoveAllDevices(MediaKind::Video);
            VornWorld::RemoveAllDevices(MediaKind::Audio);
        }
        Camera camera;
        Voice voice;
        camera.Index = voice.Index = c.index;
        VornWorld::ClearMessageBoxes();
        EXPECT_FALSE(camera.Open());
        EXPECT_FALSE(voice.Open());
        EXPECT_FALSE(camera.Opened || voice.Opened);
        EXPECT_EQ((std::vector<std::string>{c.box, c.box}), BoxTexts());
    }
}

TEST_F(PullTest, BindFilterCountsEveryMonikerAndEndsCleanlyPastTheLast) {
    VornWorld::DeviceConfig hidden = VornWorld::DefaultCamera();
    hidden.hasPropertyBag = false;
    VornWorld::AddDevice(hidden, 0);  // position 0 cannot be read, but counts
    const std::vector<VornWorld::DeviceId> cameras = VornWorld::Devices(MediaKind::Video);
    ASSERT_EQ(2u, cameras.size());
    Camera camera;
    IBaseFilter* filter = nullptr;
    EXPECT_TRUE(camera.BindFilter(0, &filter));
    EXPECT_EQ(nullptr, filter);
    EXPECT_TRUE(camera.BindFilter(1, &filter));
    ASSERT_NE(nullptr, filter);
    filter->Release();
    filter = nullptr;
    EXPECT_EQ(1u, VornWorld::Activity(cameras[1]).binds);
    EXPECT_TRUE(camera.BindFilter(2, &filter));
    EXPECT_EQ(nullptr, filter);
    EXPECT_FALSE(camera.BindFilter(-1, &filter));
    EXPECT_EQ(1u + 2u + 3u, VornWorld::CallCount("IEnumMoniker::Next")) << "walked past the index";

    Voice voice;  // the audio category, not the video one
    EXPECT_TRUE(voice.BindFilter(0, &filter));
    ASSERT_NE(nullptr, filter);
    filter->Release();
    EXPECT_EQ(1u, VornWorld::Activity(Only(MediaKind::Audio)).binds);
    EXPECT_EQ(1u, VornWorld::Activity(cameras[1]).binds);
}

TEST_F(PullTest, CameraAsksForItsSizeAndReportsTheConnectedOne) {
    const VornWorld::DeviceId id = Only(MediaKind::Video);
    Camera camera;
    camera.Width = 320;
    camera.Height = 240;
    ASSERT_TRUE(camera.Open());
    EXPECT_TRUE(camera.Opened);
    EXPECT_EQ(320u, camera.Width);
    EXPECT_EQ(240u, camera.Height);
    const VornWorld::DeviceActivity activity = VornWorld::Activity(id);
    ASSERT_EQ(1u, activity.formats.size());
    EXPECT_EQ(S_OK, activity.formats[0].result);
    EXPECT_EQ(320, activity.formats[0].width);
    EXPECT_EQ(240, activity.formats[0].height);

    const std::vector<VornWorld::GraphRecord> graphs = VornWorld::Graphs();
    ASSERT_EQ(1u, graphs.size());
    std::vector<std::wstring> names;
    for (const auto& filter : graphs[0].filters) names.push_back(filter.name);
    ASSERT_LE(3u, names.size());  // a converter may follow
    EXPECT_EQ(L"NullRenderer", names[0]);
    EXPECT_EQ(L"Grabber", names[1]);
    EXPECT_EQ(VornWorld::FilterKind::VideoCapture, graphs[0].filters[2].kind);
    bool rgbIntoRenderer = false;
    for (const auto& link : graphs[0].connections)
        rgbIntoRenderer |= link.toFilter == L"NullRenderer" &&
                           IsEqualGUID(link.subtype, MEDIASUBTYPE_RGB24) && link.width == 320 &&
                           link.height == 240;
    EXPECT_TRUE(rgbIntoRenderer);
    EXPECT_TRUE(VornWorld::MessageBoxes().empty());
}

TEST_F(PullTest, CameraSizeTheDeviceRefusesFailsOpenWithoutABox) {
    Camera camera;
    camera.Width = 333;
    camera.Height = 111;
    EXPECT_FALSE(camera.Open());
    EXPECT_FALSE(camera.Opened);
    EXPECT_EQ(333u, camera.Width);
    EXPECT_EQ(111u, camera.Height);
    EXPECT_TRUE(VornWorld::MessageBoxes().empty());
    ASSERT_EQ(1u, VornWorld::Activity(Only(MediaKind::Video)).formats.size());
    EXPECT_TRUE(FAILED(VornWorld::Activity(Only(MediaKind::Video)).formats[0].result));
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
    const VornWorld::DeviceId id = UseOnly(config);
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
        ASSERT_TRUE(voice.Open());
        const VornWorld::DeviceActivity activity = VornWorld::Activity(id);
        ASSERT_FALSE(activity.formats.empty());
        const WAVEFORMATEX& wave = activity.formats.back().wave;
        EXPECT_EQ(WAVE_FORMAT_PCM, wave.wFormatTag);
        EXPECT_EQ(c.writtenRate, wave.nSamplesPerSec);
        EXPECT_EQ(c.bits, wave.wBitsPerSample);
        EXPECT_EQ(c.channels, wave.nChannels);
        EXPECT_EQ(c.bits * c.channels / 8, wave.nBlockAlign);
        EXPECT_EQ(wave.nBlockAlign * c.writtenRate, wave.nAvgBytesPerSec);
        EXPECT_EQ(c.accepted, activity.formats.back().result == S_OK);
        EXPECT_EQ(c.accepted ? c.writtenRate : c.rate, voice.SampleRate);
        EXPECT_EQ(c.bits, voice.BitsPerSample);
        EXPECT_EQ(c.channels, voice.Channels);
        ASSERT_FALSE(activity.allocators.empty());
        const ALLOCATOR_PROPERTIES& suggested = activity.allocators.back().properties;
        EXPECT_EQ(6, suggested.cBuffers);
        EXPECT_EQ(c.bufferBytes, suggested.cbBuffer);
        EXPECT_EQ(c.alignment, suggested.cbAlign);
        EXPECT_EQ(0, suggested.cbPrefix);
    }
    EXPECT_TRUE(VornWorld::MessageBoxes().empty());
}

TEST_F(PullTest, VoiceMakesNoSuggestionWhenTheByteRateOverflows) {
    Voice voice;
    voice.SampleRate = 0xFFFFFFFFu;
    voice.BitsPerSample = 0xFFFFFFFFu;
    voice.Channels = 0xFFFFFFFFu;
    EXPECT_TRUE(voice.Open());  // refused format; Open goes on
    EXPECT_TRUE(VornWorld::Activity(Only(MediaKind::Audio)).allocators.empty());
    EXPECT_EQ(0xFFFFFFFFu, voice.SampleRate);
}

// Gets or queries three times and checks that each call grabbed a new sample.
template <class Device>
void CheckThreeGrabs(Device& device, VornWorld::DeviceId id, bool newest, unsigned long size) {
    double previous = 0;
    unsigned long delivered = VornWorld::Activity(id).samplesDelivered;
    for (int i = 0; i < 3; ++i) {
        TQZPacket* packet = newest ? device.Get() : device.Query();
        ASSERT_NE(nullptr, packet);
        EXPECT_EQ(size, packet->Size());
        EXPECT_EQ(device.DataType, packet->DataType);
        EXPECT_EQ(device.DeviceType, packet->DeviceType);
        EXPECT_GE(packet->TimeStamp, previous);
        EXPECT_GT(VornWorld::Activity(id).samplesDelivered, delivered) << "no new sample";
        EXPECT_EQ(0u, device.Packets.Count());
        previous = packet->TimeStamp;
        delivered = VornWorld::Activity(id).samplesDelivered;
    }
}

TEST_F(PullTest, EachGetAndQueryGrabsOneNewSampleAndLeavesTheQueueEmpty) {
    Camera camera;
    camera.Width = 320;
    camera.Height = 240;
    ASSERT_TRUE(camera.Open());
    CheckThreeGrabs(camera, Only(MediaKind::Video), true, 320u * 240u * 3u);
    CheckThreeGrabs(camera, Only(MediaKind::Video), false, 320u * 240u * 3u);
    EXPECT_EQ(TQZCapture::DataTypeRGB24, camera.Get()->DataType);

    Voice voice;
    ASSERT_TRUE(voice.Open());
    CheckThreeGrabs(voice, Only(MediaKind::Audio), true, 8820u);
    CheckThreeGrabs(voice, Only(MediaKind::Audio), false, 8820u);
    EXPECT_EQ(TQZCapture::DeviceTypeAudio, voice.Query()->DeviceType);
}

TEST_F(PullTest, GetOfAClosedDeviceHandsOutTheQueueUnchanged) {
    Camera camera;
    TQZPacket* before = camera.Get();
    ASSERT_NE(nullptr, before);
    EXPECT_EQ(0u, before->Size());
    EXPECT_EQ(0u, VornWorld::Graphs().size());

    ASSERT_TRUE(camera.Open());
    const TQZPacket* grabbed = camera.Get();
    const double stamp = grabbed->TimeStamp;
    const unsigned long size = grabbed->Size();
    ASSERT_GT(size, 0u);
    ASSERT_TRUE(camera.Close());
    const unsigned long delivered = VornWorld::Activity(Only(MediaKind::Video)).samplesDelivered;
    TQZPacket* after = camera.Get();
    EXPECT_EQ(before, after);
    EXPECT_EQ(size, after->Size());
    EXPECT_EQ(stamp, after->TimeStamp);
    EXPECT_EQ(0u, camera.Query()->Size());
    EXPECT_EQ(delivered, VornWorld::Activity(Only(MediaKind::Video)).samplesDelivered);
}

TEST_F(PullTest, OpenTwiceHoldsOneGraphAndClosingTwiceIsHarmless) {
    Voice voice;
    ASSERT_TRUE(voice.Open());
    ASSERT_TRUE(voice.Open());
    EXPECT_EQ(2u, VornWorld::Graphs().size());
    EXPECT_EQ(1, AliveGraphs());
    EXPECT_TRUE(voice.Close());
    EXPECT_TRUE(voice.Close());
    EXPECT_TRUE(voice.Pause());
    EXPECT_EQ(0, AliveGraphs());
    EXPECT_TRUE(VornWorld::MessageBoxes().empty());
}

TEST_F(PullTest, PausedGraphRunsAgainOnTheNextGet) {
    Camera camera;
    ASSERT_TRUE(camera.Open());
    ASSERT_TRUE(camera.Pause());
    EXPECT_EQ(State_Paused, VornWorld::Graphs().back().state);
    EXPECT_GT(camera.Get()->Size(), 0u);
    EXPECT_TRUE(camera.Opened);
}

TEST_F(PullTest, CyclesOfOpenGrabAndCloseLeaveNothingBehind) {
    for (int cycle = 0; cycle < 3; ++cycle) {
        Camera camera;
        Voice voice;
        ASSERT_TRUE(camera.Open());
        ASSERT_TRUE(voice.Open());
        camera.Get();
        voice.Query();
        if (cycle == 1) continue;  // the destructors close
        EXPECT_TRUE(camera.Close());
        EXPECT_TRUE(voice.Close());
        EXPECT_EQ(0, VornWorld::LiveStreamingThreads());
    }
    VornWorld::FailCall("IGraphBuilder::Connect", 0, 1);
    Camera halfBuilt;  // a failed Open's interfaces go with the device
    EXPECT_FALSE(halfBuilt.Open());
}

TEST_F(PullTest, CopiesShareTheGraphAndBalanceTheComRuntime) {
    const unsigned long inits = VornWorld::ComInitCount();
    {
        Camera camera;
        camera.Name = "front";
        const TQZCapture::TQZCameraDevice fromPointer(&camera);
        EXPECT_EQ("front", fromPointer.Name);
        TQZCapture::TQZCameraDevice copy(camera);
        TQZCapture::TQZVoiceDevice voice;
        TQZCapture::TQZVoiceDevice voiceCopy(voice);
        voiceCopy = voice;
        EXPECT_EQ(inits + 5, VornWorld::ComInitCount());
    }
    EXPECT_EQ(inits, VornWorld::ComInitCount());

    Camera camera;
    ASSERT_TRUE(camera.Open());
    TQZCapture::TQZCameraDevice copy(camera);
    EXPECT_TRUE(copy.Opened);
    EXPECT_EQ(camera.Graph.Get(), copy.Graph.Get());
    EXPECT_GT(copy.Get()->Size(), 0u);
    EXPECT_TRUE(copy.Close());
    EXPECT_EQ(1, AliveGraphs());  // the original still holds it
}

TEST_F(PullTest, GrabOfADeviceThatNeverDeliversGivesUpAfterTheBound) {
    VornWorld::DeviceConfig mute = VornWorld::DefaultCamera();
    mute.delivers = false;
    UseOnly(mute);
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
    EXPECT_TRUE(camera.Close());
}

TEST_F(PullTest, SetCrossBarRoutesCompositeInputToTheDecoderOutput) {
    struct Case {
        std::vector<LONG> inputs, outputs;
        LONG input, output;
        const char* failing;
    };
    const Case cases[] = {
        {{PhysConn_Video_Tuner, PhysConn_Video_Composite, PhysConn_Video_Composite},
         {PhysConn_Audio_AudioDecoder, PhysConn_Video_VideoDecoder},
         1,
         1,
         nullptr},
        {{PhysConn_Video_SVideo}, {PhysConn_Video_SCART}, 0, 0, nullptr},  // no match: pin 0
        {{PhysConn_Video_Composite}, {PhysConn_Audio_AudioDecoder}, -1, -1, nullptr},  // no route
        {{PhysConn_Video_Composite},
         {PhysConn_Video_VideoDecoder},
         -1,
         -1,
         "CoCreateInstance:CaptureGraphBuilder2"},
        {{PhysConn_Video_Composite},
         {PhysConn_Video_VideoDecoder},
         -1,
         -1,
         "ICaptureGraphBuilder2::FindInterface"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.failing != nullptr ? c.failing : "routes");
        VornWorld::DeviceConfig card = VornWorld::DefaultCamera();
        card.crossbar = true;
        card.crossbarInputs = c.inputs;
        card.crossbarOutputs = c.outputs;
        const VornWorld::DeviceId id = UseOnly(card);
        Camera camera;
        ASSERT_TRUE(camera.Open());
        if (c.failing != nullptr) VornWorld::FailCall(c.failing, 0, 1);
        camera.SetCrossBar();
        const std::vector<VornWorld::CrossbarRoute> routes = VornWorld::Activity(id).routes;
        if (c.input < 0) {
            EXPECT_TRUE(routes.empty());
        } else {
            ASSERT_EQ(1u, routes.size());
            EXPECT_EQ(c.output, routes[0].output);
            EXPECT_EQ(c.input, routes[0].input);
        }
        VornWorld::ClearFaults();
    }
    Camera closed;  // no device filter: nothing to look up
    closed.SetCrossBar();
    EXPECT_TRUE(VornWorld::MessageBoxes().empty());
}

}  // namespace
