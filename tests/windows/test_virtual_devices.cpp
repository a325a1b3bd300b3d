// SPDX-License-Identifier: MIT
// The four media devices against the real media graph, on the cameras and microphones of
// VornVirtualDevices.dll (the test command registers it in the run's Wine prefix): listing,
// format negotiation, the delivered pictures and tones, and what open/close cycles leave.
#include <windows.h>

#include <gtest/gtest.h>

#include <atomic>
#include <cstring>
#include <functional>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "com_objects.h"
#include "freshgrab.h"
#include "polling.h"
#include "shared/mediatype.h"
#include "shared/testsignal.h"
#include "shared/vdevice_classes.h"
#include "tone.h"
#include "tqzenumdevice.h"
#include "windowscounters.h"

using namespace TQZCapture;

namespace {

const std::vector<std::string> kCameras = {"Vorn Virtual Camera", "Vorn Virtual Camera 2"};
const std::vector<std::string> kMicrophones = {"Vorn Virtual Microphone",
                                               "Vorn Virtual Microphone 2"};

bool Registered() {
    HKEY key = nullptr;
    const LSTATUS status = RegOpenKeyExA(
        HKEY_LOCAL_MACHINE, "Software\\Classes\\CLSID\\" VORN_CAMERA_CLASS_TEXT "\\InprocServer32",
        0, KEY_READ, &key);
    if (status == ERROR_SUCCESS) RegCloseKey(key);
    return status == ERROR_SUCCESS;
}

// Answers the message boxes of this process (a failing Open shows one) and keeps their
// captions, so that a failure is a finding and not a wait for someone to click.
class BoxWatch {
public:
    BoxWatch() : thread_([this] { Watch(); }) {}
    BoxWatch(const BoxWatch&) = delete;
    BoxWatch& operator=(const BoxWatch&) = delete;
    ~BoxWatch() {
        stop_ = true;
        thread_.join();
    }
    std::vector<std::string> Seen() {
        std::lock_guard<std::mutex> lock(mutex_);
        return seen_;
    }

private:
    static BOOL CALLBACK Visit(HWND window, LPARAM self) {
        DWORD process = 0;
        GetWindowThreadProcessId(window, &process);
        char name[16] = {};
        GetClassNameA(window, name, sizeof(name));
        if (process == GetCurrentProcessId() && std::strcmp(name, "#32770") == 0 &&
            IsWindowVisible(window)) {
            char caption[256] = {};
            GetWindowTextA(window, caption, sizeof(caption));
            auto* watch = reinterpret_cast<BoxWatch*>(self);
            std::lock_guard<std::mutex> lock(watch->mutex_);
            watch->seen_.push_back(caption);
            PostMessageA(window, WM_COMMAND, IDOK, 0);
        }
        return TRUE;
    }
    void Watch() {
        while (!stop_) {
            EnumWindows(Visit, reinterpret_cast<LPARAM>(this));
            Sleep(50);
        }
    }

    std::atomic<bool> stop_{false};
    std::mutex mutex_;
    std::vector<std::string> seen_;
    std::thread thread_;
};

class VirtualDevicesTest : public ::testing::Test {
protected:
    void SetUp() override {
        if (!Registered()) {
            GTEST_SKIP() << "VornVirtualDevices.dll is not registered (regsvr32)";
        }
    }
    void TearDown() override { EXPECT_TRUE(boxes_.Seen().empty()) << boxes_.Seen().front(); }

    BoxWatch boxes_;
};

template <class Set>
std::vector<std::string> VirtualNames(Set& set) {
    std::vector<std::string> names;
    for (auto* device : *set.GetList())
        if (device->Name.rfind("Vorn Virtual", 0) == 0) names.push_back(device->Name);
    return names;
}

// The index of the test picture that `frame` (bottom-up RGB24) shows, searched from `from`
// on; -1 when no frame of the next 300 matches.
long PictureIndex(const unsigned char* frame, long length, long width, long height, long from) {
    const size_t bytes = VornSignal::FrameBytes(VornSignal::PixelLayout::RGB24, width, height);
    if (frame == nullptr || static_cast<size_t>(length) != bytes) return -1;
    std::vector<uint8_t> expected(bytes), scratch;
    for (long index = from; index < from + 300; ++index) {
        VornSignal::PaintTestFrame(VornSignal::PixelLayout::RGB24, width, height,
                                   static_cast<uint64_t>(index), expected.data(), scratch);
        if (std::memcmp(expected.data(), frame, bytes) == 0) return index;
    }
    return -1;
}

// The frequency that dominates the first channel of PCM in the layout asked.
double ToneFrequency(const std::vector<unsigned char>& pcm, unsigned rate, unsigned bits,
                     unsigned channels) {
    return vmc_test::DominantFrequency(
        vmc_test::FirstChannel(pcm.data(), pcm.size(), static_cast<int>(bits),
                               static_cast<int>(channels)),
        rate);
}

VIDEOINFOHEADER& Video(const AM_MEDIA_TYPE& type) {
    return *reinterpret_cast<VIDEOINFOHEADER*>(type.pbFormat);
}

// What a push device hands over: each frame or buffer with its time, until `wanted` bytes came.
class Sink : public ICaptureVideoCallBack, public ICaptureAudioCallBack {
public:
    struct Chunk {
        double time;
        std::vector<unsigned char> bytes;
    };
    explicit Sink(size_t wanted) : wanted_(wanted) {}
    void OnVideoStart() override {}
    void OnVideoStop() override {}
    void OnVideoPause(bool) override {}
    void OnVideoError(unsigned int) override {}
    void OnVideoFrame(double time, unsigned char* data, long length) override {
        Keep(time, data, length);
    }
    void OnAudioStart() override {}
    void OnAudioStop() override {}
    void OnAudioError(unsigned int) override {}
    void OnAudioFrame(double time, unsigned char* data, long length) override {
        Keep(time, data, length);
    }
    // Opens `device` with this sink through every hook a host calls, waits up to 5 s for the
    // bytes wanted, and closes it again; what came, in order.
    template <class Device>
    std::vector<Chunk> Capture(Device& device) {
        device.OnOpenBefore(Callback(device));
        EXPECT_TRUE(device.Open());
        device.OnOpenAFter();
        vmc_test::Eventually([this] { return Held() >= wanted_; });
        device.OnCloseBefore();
        EXPECT_TRUE(device.Close());
        device.OnCloseAFter();
        std::lock_guard<std::mutex> lock(mutex_);
        return chunks_;
    }
    ICaptureVideoCallBack* Callback(TQZUSBVideoDevice&) { return this; }
    ICaptureAudioCallBack* Callback(TQZUSBAudioDevice&) { return this; }

private:
    size_t Held() {
        std::lock_guard<std::mutex> lock(mutex_);
        return held_;
    }
    void Keep(double time, unsigned char* data, long length) {
        std::lock_guard<std::mutex> lock(mutex_);
        if (data == nullptr || length <= 0 || held_ >= wanted_) return;
        chunks_.push_back({time, std::vector<unsigned char>(data, data + length)});
        held_ += static_cast<size_t>(length);
    }

    const size_t wanted_;
    size_t held_ = 0;
    std::mutex mutex_;
    std::vector<Chunk> chunks_;
};

}  // namespace

TEST_F(VirtualDevicesTest, EnumeratorListsThemInRegistrationOrder) {
    TQZEnumDevice all;
    EXPECT_EQ(kCameras, VirtualNames(all.VideoDevices));
    EXPECT_EQ(kCameras, VirtualNames(all.CameraDevices));
    EXPECT_EQ(kMicrophones, VirtualNames(all.AudioDevices));
    EXPECT_EQ(kMicrophones, VirtualNames(all.VoiceDevices));
}

struct VideoCase {
    unsigned width, height, frameRate;
};

class PushCameraTest : public VirtualDevicesTest,
                       public ::testing::WithParamInterface<VideoCase> {};

TEST_P(PushCameraTest, DeliversTheTestPictureAtTheNegotiatedSizeAndRate) {
    const VideoCase c = GetParam();
    TQZEnumDevice all;
    TQZUSBVideoDevice* device = all.VideoDevices.GetByName(kCameras[0]);
    ASSERT_NE(nullptr, device);
    device->Width = c.width;
    device->Height = c.height;
    device->FrameRate = c.frameRate;
    const std::vector<Sink::Chunk> frames = Sink(5 * c.width * c.height * 3).Capture(*device);
    EXPECT_EQ(c.width, device->Width);
    EXPECT_EQ(c.height, device->Height);
    ASSERT_GE(frames.size(), 5u);
    long index = 0;
    for (size_t i = 0; i < frames.size(); ++i) {
        index = PictureIndex(frames[i].bytes.data(), static_cast<long>(frames[i].bytes.size()),
                             c.width, c.height, i == 0 ? 0 : index + 1);
        ASSERT_GE(index, 0) << "frame " << i << " of " << frames[i].bytes.size() << " bytes";
        if (i > 0) {
            EXPECT_NEAR(1.0 / c.frameRate, frames[i].time - frames[i - 1].time, 1e-4) << i;
        }
    }
}

INSTANTIATE_TEST_SUITE_P(Sizes, PushCameraTest,
                         ::testing::Values(VideoCase{640, 480, 20}, VideoCase{320, 240, 30},
                                           VideoCase{160, 120, 10}));

// On the system's media graph a one-shot grab ends the stream while the graph stays running and
// its completion stays signalled, so a second Get copies the grabber's kept sample again. What a
// host does for a new sample from each Get (the capture tool's GrabAgain): stop the graph, arm
// the grabber's one-shot, run the graph and wait for its completion event, then Get. Each Get
// then shows the next frame of the test picture.
TEST_F(VirtualDevicesTest, PullCameraGetsTheNextFrameWhenTheHostGrabsAgainBeforeEachGet) {
    TQZCameraDeviceSet set;
    TQZEnumDevice::EnumCameraDevice(set);
    for (const std::string& name : kCameras) {
        TQZCameraDevice* device = set.GetByName(name);
        ASSERT_NE(nullptr, device) << name;
        device->Width = 320;
        device->Height = 240;
        ASSERT_TRUE(device->Open()) << name;
        EXPECT_EQ(320u, device->Width);
        EXPECT_EQ(240u, device->Height);
        for (long grab = 0; grab < 4; ++grab) {
            if (grab > 0) VornCapture::GrabAgain(*device);
            TQZPacket* packet = device->Get();
            ASSERT_NE(nullptr, packet);
            EXPECT_EQ(grab,
                      PictureIndex(packet->Bytes(), static_cast<long>(packet->Size()), 320, 240, 0))
                << name;
        }
        EXPECT_TRUE(device->Close());
    }
}

// The same for the pulled microphone: each buffer goes on where the one before ended. At
// 22050 Hz a 50 ms buffer holds no whole number of periods, so a repeated buffer cannot pass.
TEST_F(VirtualDevicesTest, PullMicrophoneGetsConsecutiveBuffersWhenTheHostGrabsAgainBeforeEachGet) {
    TQZVoiceDeviceSet set;
    TQZEnumDevice::EnumVoiceDevice(set);
    TQZVoiceDevice* device = set.GetByName(kMicrophones[0]);
    ASSERT_NE(nullptr, device);
    device->SampleRate = 22050;
    device->BitsPerSample = 8;
    device->Channels = 1;
    ASSERT_TRUE(device->Open());
    const VornSignal::PcmLayout layout{22050, 1, 8, 1};
    uint64_t position = 0;
    for (int grab = 0; grab < 3; ++grab) {
        if (grab > 0) VornCapture::GrabAgain(*device);
        TQZPacket* packet = device->Get();
        ASSERT_NE(nullptr, packet);
        ASSERT_GT(packet->Size(), 0u);
        std::vector<uint8_t> expected(packet->Size());
        VornSignal::PaintTone(layout, VornSignal::kToneFrequency, position, expected.data(),
                              expected.size());
        EXPECT_EQ(0, std::memcmp(expected.data(), packet->Bytes(), expected.size()))
            << "buffer " << grab << " does not go on from sample " << position;
        position += packet->Size();
    }
    EXPECT_TRUE(device->Close());
}

struct AudioCase {
    unsigned rate, bits, channels;
};

class MicrophoneTest : public VirtualDevicesTest,
                       public ::testing::WithParamInterface<AudioCase> {};

TEST_P(MicrophoneTest, PushDeliversTheToneInTheNegotiatedFormat) {
    const AudioCase c = GetParam();
    TQZEnumDevice all;
    TQZUSBAudioDevice* device = all.AudioDevices.GetByName(kMicrophones[0]);
    ASSERT_NE(nullptr, device);
    device->SampleRate = c.rate;
    device->BitsPerSample = c.bits;
    device->Channels = c.channels;
    const size_t halfSecond = c.rate * c.bits / 8 * c.channels / 2;
    std::vector<unsigned char> pcm;
    for (const Sink::Chunk& buffer : Sink(halfSecond).Capture(*device))
        pcm.insert(pcm.end(), buffer.bytes.begin(), buffer.bytes.end());
    ASSERT_GE(pcm.size(), halfSecond);
    EXPECT_NEAR(VornSignal::kToneFrequency, ToneFrequency(pcm, c.rate, c.bits, c.channels), 5.0);
}

TEST_P(MicrophoneTest, PullGetsBuffersOfTheTone) {
    const AudioCase c = GetParam();
    TQZVoiceDeviceSet set;
    TQZEnumDevice::EnumVoiceDevice(set);
    for (size_t which = 0; which < kMicrophones.size(); ++which) {
        TQZVoiceDevice* device = set.GetByName(kMicrophones[which]);
        ASSERT_NE(nullptr, device);
        device->SampleRate = c.rate;
        device->BitsPerSample = c.bits;
        device->Channels = c.channels;
        ASSERT_TRUE(device->Open());
        TQZPacket* packet = device->Get();
        ASSERT_NE(nullptr, packet);
        // The buffer the device suggested: 50 ms.
        EXPECT_EQ(c.rate * c.bits / 8 * c.channels / 20, packet->Size());
        const std::vector<unsigned char> pcm(packet->Bytes(), packet->Bytes() + packet->Size());
        // The second microphone plays an octave higher: each instance knows which it is.
        EXPECT_NEAR(VornSignal::kToneFrequency * static_cast<double>(which + 1),
                    ToneFrequency(pcm, c.rate, c.bits, c.channels), 25.0)
            << kMicrophones[which];
        EXPECT_TRUE(device->Close());
    }
}

INSTANTIATE_TEST_SUITE_P(Formats, MicrophoneTest,
                         ::testing::Values(AudioCase{44100, 16, 2}, AudioCase{16000, 16, 1},
                                           AudioCase{22050, 8, 1}));

// The filters' own interfaces, driven directly: every capability can be set and read back,
// and formats, property sets and buffers they cannot serve are refused with the system's codes.
class FilterInterfacesTest : public VirtualDevicesTest {
protected:
    void SetUp() override {
        VirtualDevicesTest::SetUp();
        if (IsSkipped()) return;
        ASSERT_TRUE(SUCCEEDED(CoInitialize(nullptr)));
        initialised_ = true;
    }
    void TearDown() override {
        if (initialised_) CoUninitialize();
        VirtualDevicesTest::TearDown();
    }
    // The capture pin of a new filter of `clsid`, with the pin's reference.
    static IPin* CapturePin(const CLSID& clsid) {
        IBaseFilter* filter = nullptr;
        if (FAILED(CoCreateInstance(clsid, nullptr, CLSCTX_INPROC_SERVER, IID_IBaseFilter,
                                    reinterpret_cast<void**>(&filter))))
            return nullptr;
        IPin* pin = nullptr;
        filter->FindPin(L"Capture", &pin);
        filter->Release();  // the pin holds the filter
        return pin;
    }
    template <class I>
    static I* Ask(IUnknown* from, const IID& iid) {
        I* out = nullptr;
        from->QueryInterface(iid, reinterpret_cast<void**>(&out));
        return out;
    }

    bool initialised_ = false;
};

using VornDevices::kCameraClass;
using VornDevices::kMicrophoneClass;

TEST_F(FilterInterfacesTest, CameraPinTakesEachCapabilityAndRefusesOthers) {
    IPin* pin = CapturePin(kCameraClass);
    ASSERT_NE(nullptr, pin);
    auto* config = Ask<IAMStreamConfig>(pin, IID_IAMStreamConfig);
    auto* properties = Ask<IKsPropertySet>(pin, IID_IKsPropertySet);
    ASSERT_TRUE(config && properties);
    EXPECT_EQ(nullptr, Ask<IAMBufferNegotiation>(pin, IID_IAMBufferNegotiation));

    GUID category = {};
    DWORD returned = 0;
    EXPECT_EQ(S_OK, properties->Get(AMPROPSETID_Pin, AMPROPERTY_PIN_CATEGORY, nullptr, 0, &category,
                                    sizeof(category), &returned));
    EXPECT_EQ(PIN_CATEGORY_CAPTURE, category);
    EXPECT_EQ(E_UNEXPECTED, properties->Get(AMPROPSETID_Pin, AMPROPERTY_PIN_CATEGORY, nullptr, 0,
                                            &category, 4, &returned));
    EXPECT_EQ(E_PROP_SET_UNSUPPORTED, properties->Get(PIN_CATEGORY_CAPTURE, 0, nullptr, 0,
                                                      &category, sizeof(category), &returned));

    int count = 0, size = 0;
    EXPECT_EQ(E_POINTER, config->GetNumberOfCapabilities(nullptr, &size));
    ASSERT_EQ(S_OK, config->GetNumberOfCapabilities(&count, &size));
    EXPECT_EQ(static_cast<int>(sizeof(VIDEO_STREAM_CONFIG_CAPS)), size);
    ASSERT_GE(count, 9);  // three layouts at three sizes at least
    VIDEO_STREAM_CONFIG_CAPS caps;
    AM_MEDIA_TYPE* type = nullptr;
    for (int index : {-1, count}) {
        EXPECT_EQ(S_FALSE, config->GetStreamCaps(index, &type, reinterpret_cast<BYTE*>(&caps)));
        EXPECT_EQ(nullptr, type);
    }
    for (int index = 0; index < count; ++index) {
        ASSERT_EQ(S_OK, config->GetStreamCaps(index, &type, reinterpret_cast<BYTE*>(&caps)));
        EXPECT_EQ(S_OK, config->SetFormat(type)) << index;
        AM_MEDIA_TYPE* current = nullptr;
        ASSERT_EQ(S_OK, config->GetFormat(&current));
        EXPECT_EQ(type->subtype, current->subtype);
        EXPECT_EQ(caps.MaxOutputSize.cx, Video(*current).bmiHeader.biWidth);
        EXPECT_EQ(Video(*type).bmiHeader.biHeight, Video(*current).bmiHeader.biHeight);
        EXPECT_EQ(Video(*type).bmiHeader.biSizeImage, Video(*current).bmiHeader.biSizeImage);
        comtest::DeleteType(current);
        comtest::DeleteType(type);
    }

    // Each change of the first capability that the pin must refuse.
    const std::vector<std::pair<const char*, std::function<void(AM_MEDIA_TYPE&)>>> refused = {
        {"width 0", [](AM_MEDIA_TYPE& t) { Video(t).bmiHeader.biWidth = 0; }},
        {"an unlisted size", [](AM_MEDIA_TYPE& t) { Video(t).bmiHeader.biWidth = 100000; }},
        {"top-down rows", [](AM_MEDIA_TYPE& t) { Video(t).bmiHeader.biHeight *= -1; }},
        {"1000 frames a second", [](AM_MEDIA_TYPE& t) { Video(t).AvgTimePerFrame = 10000; }},
        {"a frame every 2 s", [](AM_MEDIA_TYPE& t) { Video(t).AvgTimePerFrame = 20000000; }},
        {"another subtype", [](AM_MEDIA_TYPE& t) { t.subtype = MEDIASUBTYPE_RGB32; }},
        {"audio", [](AM_MEDIA_TYPE& t) { t.majortype = MEDIATYPE_Audio; }},
        {"a short format block",
         [](AM_MEDIA_TYPE& t) { t.cbFormat = sizeof(VIDEOINFOHEADER) - 1; }},
    };
    for (const auto& [what, change] : refused) {
        ASSERT_EQ(S_OK, config->GetStreamCaps(0, &type, reinterpret_cast<BYTE*>(&caps)));
        change(*type);
        EXPECT_EQ(VFW_E_INVALIDMEDIATYPE, config->SetFormat(type)) << what;
        comtest::DeleteType(type);
    }
    properties->Release();
    config->Release();
    pin->Release();
}

TEST_F(FilterInterfacesTest, MicrophonePinTakesPcmFormatsAndBufferSuggestions) {
    IPin* pin = CapturePin(kMicrophoneClass);
    ASSERT_NE(nullptr, pin);
    auto* config = Ask<IAMStreamConfig>(pin, IID_IAMStreamConfig);
    auto* buffers = Ask<IAMBufferNegotiation>(pin, IID_IAMBufferNegotiation);
    ASSERT_TRUE(config && buffers);
    int count = 0, size = 0;
    ASSERT_EQ(S_OK, config->GetNumberOfCapabilities(&count, &size));
    EXPECT_EQ(static_cast<int>(sizeof(AUDIO_STREAM_CONFIG_CAPS)), size);
    AM_MEDIA_TYPE* type = nullptr;
    AUDIO_STREAM_CONFIG_CAPS caps;
    ASSERT_EQ(S_OK, config->GetStreamCaps(0, &type, reinterpret_cast<BYTE*>(&caps)));
    auto* wave = reinterpret_cast<WAVEFORMATEX*>(type->pbFormat);
    EXPECT_EQ(caps.MaximumSampleFrequency, wave->nSamplesPerSec);

    struct Format {
        DWORD rate;
        WORD bits, channels, tag;
        HRESULT expected;
    };
    const Format formats[] = {
        {8000, 8, 1, WAVE_FORMAT_PCM, S_OK},
        {96000, 32, 2, WAVE_FORMAT_PCM, S_OK},
        {30464, 24, 2, WAVE_FORMAT_PCM, S_OK},
        {7999, 16, 2, WAVE_FORMAT_PCM, VFW_E_INVALIDMEDIATYPE},
        {96001, 16, 2, WAVE_FORMAT_PCM, VFW_E_INVALIDMEDIATYPE},
        {44100, 12, 2, WAVE_FORMAT_PCM, VFW_E_INVALIDMEDIATYPE},
        {44100, 16, 3, WAVE_FORMAT_PCM, VFW_E_INVALIDMEDIATYPE},
        {44100, 16, 0, WAVE_FORMAT_PCM, VFW_E_INVALIDMEDIATYPE},
        {44100, 16, 2, 0x0003 /* IEEE float */, VFW_E_INVALIDMEDIATYPE},
    };
    for (const Format& f : formats) {
        wave->nSamplesPerSec = f.rate;
        wave->wBitsPerSample = f.bits;
        wave->nChannels = f.channels;
        wave->wFormatTag = f.tag;
        wave->nBlockAlign = 1;  // derived fields are the pin's to compute
        wave->nAvgBytesPerSec = 1;
        EXPECT_EQ(f.expected, config->SetFormat(type))
            << f.rate << " " << f.bits << " " << f.channels;
        if (f.expected != S_OK) continue;
        AM_MEDIA_TYPE* current = nullptr;
        ASSERT_EQ(S_OK, config->GetFormat(&current));
        const auto* got = reinterpret_cast<const WAVEFORMATEX*>(current->pbFormat);
        EXPECT_EQ(f.channels * f.bits / 8, got->nBlockAlign);
        EXPECT_EQ(f.rate * got->nBlockAlign, got->nAvgBytesPerSec);
        comtest::DeleteType(current);
    }
    comtest::DeleteType(type);
    EXPECT_EQ(E_POINTER, buffers->SuggestAllocatorProperties(nullptr));
    const ALLOCATOR_PROPERTIES suggestion = {6, 8820, 4, 0};
    EXPECT_EQ(S_OK, buffers->SuggestAllocatorProperties(&suggestion));
    ALLOCATOR_PROPERTIES actual = {};
    EXPECT_EQ(E_FAIL, buffers->GetAllocatorProperties(&actual));  // no allocator before connecting
    buffers->Release();
    config->Release();
    pin->Release();
}

// The colour converter's pins driven directly, with a camera of each YUV layout upstream and
// the system's null renderer downstream: the output offers nothing until its input is
// connected, then exactly RGB24 of the input's size; it refuses a partial type it does not
// offer; no pin lets go while the filters run, and each lets go once they stop.
TEST_F(FilterInterfacesTest, ConverterOutputFollowsItsInputAndDisconnectsOnlyWhenStopped) {
    auto create = [](const CLSID& clsid) {
        IBaseFilter* filter = nullptr;
        CoCreateInstance(clsid, nullptr, CLSCTX_INPROC_SERVER, IID_IBaseFilter,
                         reinterpret_cast<void**>(&filter));
        return filter;
    };
    auto offered = [](IPin* pin) {
        std::vector<AM_MEDIA_TYPE*> types;
        IEnumMediaTypes* list = nullptr;
        if (FAILED(pin->EnumMediaTypes(&list))) return types;
        AM_MEDIA_TYPE* type = nullptr;
        while (list->Next(1, &type, nullptr) == S_OK) types.push_back(type);
        list->Release();
        return types;
    };
    for (const GUID& subtype : {VornMedia::kSubtypeI420, MEDIASUBTYPE_YUY2}) {
        IBaseFilter* camera = create(kCameraClass);
        IBaseFilter* converter = create(VornDevices::kConverterClass);
        IBaseFilter* renderer = create(comtest::kNullRenderer);
        ASSERT_TRUE(camera && converter && renderer);
        IPin *capture = nullptr, *in = nullptr, *out = nullptr, *sink = nullptr;
        ASSERT_EQ(S_OK, camera->FindPin(L"Capture", &capture));
        ASSERT_EQ(S_OK, converter->FindPin(L"In", &in));
        ASSERT_EQ(S_OK, converter->FindPin(L"Out", &out));
        IEnumPins* pins = nullptr;
        ASSERT_EQ(S_OK, renderer->EnumPins(&pins));
        ASSERT_EQ(S_OK, pins->Next(1, &sink, nullptr));
        pins->Release();

        EXPECT_TRUE(offered(out).empty());
        EXPECT_EQ(VFW_E_NO_ACCEPTABLE_TYPES, out->Connect(sink, nullptr));

        // The camera's 320 x 240 capability of this layout, connected to the converter.
        auto* config = Ask<IAMStreamConfig>(capture, IID_IAMStreamConfig);
        ASSERT_NE(nullptr, config);
        int count = 0, size = 0;
        ASSERT_EQ(S_OK, config->GetNumberOfCapabilities(&count, &size));
        VIDEO_STREAM_CONFIG_CAPS caps;
        bool set = false;
        for (int index = 0; index < count && !set; ++index) {
            AM_MEDIA_TYPE* type = nullptr;
            ASSERT_EQ(S_OK, config->GetStreamCaps(index, &type, reinterpret_cast<BYTE*>(&caps)));
            if (type->subtype == subtype && Video(*type).bmiHeader.biWidth == 320)
                set = config->SetFormat(type) == S_OK;
            comtest::DeleteType(type);
        }
        config->Release();
        ASSERT_TRUE(set);
        ASSERT_EQ(S_OK, capture->Connect(in, nullptr));

        std::vector<AM_MEDIA_TYPE*> types = offered(out);
        ASSERT_EQ(1u, types.size());
        EXPECT_EQ(MEDIASUBTYPE_RGB24, types[0]->subtype);
        EXPECT_EQ(320, Video(*types[0]).bmiHeader.biWidth);
        EXPECT_EQ(240, Video(*types[0]).bmiHeader.biHeight);
        for (AM_MEDIA_TYPE* type : types) comtest::DeleteType(type);
        AM_MEDIA_TYPE partial = {};
        partial.majortype = MEDIATYPE_Video;
        partial.subtype = subtype;
        EXPECT_EQ(VFW_E_NO_ACCEPTABLE_TYPES, out->Connect(sink, &partial));
        ASSERT_EQ(S_OK, out->Connect(sink, nullptr));

        // Downstream first, as a graph does.
        for (IBaseFilter* filter : {renderer, converter, camera}) EXPECT_EQ(S_OK, filter->Run(0));
        Sleep(300);
        EXPECT_EQ(VFW_E_NOT_STOPPED, out->Disconnect());
        EXPECT_EQ(VFW_E_NOT_STOPPED, in->Disconnect());
        for (IBaseFilter* filter : {renderer, converter, camera}) EXPECT_EQ(S_OK, filter->Stop());

        EXPECT_EQ(S_OK, out->Disconnect());
        sink->Disconnect();
        EXPECT_EQ(S_OK, in->Disconnect());
        capture->Disconnect();
        EXPECT_TRUE(offered(out).empty());
        for (IPin* pin : {capture, in, out, sink}) pin->Release();
        for (IBaseFilter* filter : {camera, converter, renderer}) filter->Release();
    }
}

// What the system keeps for itself, measured with bare programs under Wine 8.0: 4 handles for
// every filter graph that ran, and 34 more for every connection for which the graph's
// intelligent connect had to search the registered filters for a converter (a graph built
// with direct connections to the same filters keeps 4).
constexpr long kHandlesPerGraph = 4;
constexpr long kHandlesPerFilterSearch = 34;

// Open/close cycles of each device class leave no object of the DLL, no thread and no handle
// behind beyond that.
TEST_F(VirtualDevicesTest, OpenCloseCyclesLeaveNothingBehind) {
    TQZEnumDevice all;
    TQZUSBVideoDevice* push = all.VideoDevices.GetByName(kCameras[0]);
    TQZCameraDevice* camera = all.CameraDevices.GetByName(kCameras[0]);
    TQZUSBAudioDevice* sound = all.AudioDevices.GetByName(kMicrophones[0]);
    TQZVoiceDevice* voice = all.VoiceDevices.GetByName(kMicrophones[0]);
    ASSERT_TRUE(push && camera && sound && voice);
    Sink sink(0);
    push->OnOpenBefore(sink.Callback(*push));
    sound->OnOpenBefore(sink.Callback(*sound));
    // A push device runs a while between Open and Close; a pulled one grabs a sample.
    const auto pushed = [](TQZDevice* device) -> std::function<bool()> {
        return [device] {
            const bool opened = device->Open();
            Sleep(100);
            return opened && device->Close();
        };
    };
    const auto pulled = [](TQZDevice* device) -> std::function<bool()> {
        return [device] { return device->Open() && device->Get()->Size() > 0 && device->Close(); };
    };
    const struct {
        const char* name;
        std::function<bool()> cycle;
        long systemHandles;  // per cycle
    } cases[] = {
        // The camera's first format is I420: the graph finds the converter for the grabber.
        {"push camera", pushed(push), kHandlesPerGraph + kHandlesPerFilterSearch},
        {"push microphone", pushed(sound), kHandlesPerGraph},
        {"pull camera", pulled(camera), kHandlesPerGraph},
        {"pull microphone", pulled(voice), kHandlesPerGraph},
    };
    const int cycles = 5;
    for (const auto& c : cases) {
        // The first cycles load the DLLs and start the system's own threads.
        ASSERT_TRUE(c.cycle() && c.cycle()) << c.name;
        const long handles = wintest::OpenHandles(), threads = wintest::LiveThreads();
        for (int i = 0; i < cycles; ++i) ASSERT_TRUE(c.cycle()) << c.name;
        EXPECT_LE(wintest::OpenHandles() - handles, cycles * c.systemHandles) << c.name;
        EXPECT_LE(wintest::LiveThreads(), threads) << c.name;
    }
    using CanUnload = HRESULT(WINAPI*)();
    HMODULE dll = GetModuleHandleA("VornVirtualDevices.dll");
    ASSERT_NE(nullptr, dll);
    auto canUnload = reinterpret_cast<CanUnload>(
        reinterpret_cast<void*>(GetProcAddress(dll, "DllCanUnloadNow")));
    ASSERT_NE(nullptr, canUnload);
    EXPECT_EQ(S_OK, canUnload()) << "an object of the DLL is still alive";
}
