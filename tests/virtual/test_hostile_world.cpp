// Hostile capture fields and hostile worlds for the devices that need the virtual platform: the
// four media-graph devices opened with indices 2^31 and 2^32 - 1, frame rates 0 and 2^32 - 1,
// zero and huge sizes and sample formats; windows with 5,000-byte titles, empty, odd or
// vanishing client areas; the largest virtual screen. Each row names its defined result (the
// Open result and the failure box, or what frames arrive), and nothing may be left behind.
#include <gtest/gtest.h>

#include <chrono>
#include <climits>
#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include "captureprobe.h"
#include "tqzcameradevice.h"
#include "tqzdesktopdevice.h"
#include "tqzenumdevice.h"
#include "tqzpacket.h"
#include "tqzusbaudiodevice.h"
#include "tqzusbvideodevice.h"
#include "tqzvoicedevice.h"
#include "tqzwindowdevice.h"
#include "vorn/control/display.h"
#include "vorn/control/faults.h"
#include "vorn/control/media.h"

using namespace TQZCapture;

namespace {

constexpr unsigned int kTop = 0xFFFFFFFFu;
constexpr unsigned int kHalf = 0x80000000u;

class HostileWorld : public ::testing::Test {
protected:
    void SetUp() override {
        VornWorld::ClearFaults();
        VornWorld::ResetMedia();
        VornWorld::ResetDisplay();
        VornWorld::EchoMessageBoxes(false);
        objects_ = VornWorld::LiveComObjects();
        contexts_ = VornWorld::LiveDeviceContexts();
        gdi_ = VornWorld::LiveGdiObjects();
    }
    void TearDown() override {
        EXPECT_EQ(objects_, VornWorld::LiveComObjects()) << "COM objects left";
        EXPECT_EQ(0, VornWorld::LiveStreamingThreads()) << "streaming threads left";
        EXPECT_EQ(contexts_, VornWorld::LiveDeviceContexts()) << "device contexts left";
        EXPECT_EQ(gdi_, VornWorld::LiveGdiObjects()) << "GDI objects left";
        VornWorld::ResetDisplay();
        VornWorld::ClearMessageBoxes();
    }
    static std::string FirstBox() {
        const auto boxes = VornWorld::MessageBoxes();
        return boxes.empty() ? "" : boxes[0].text;
    }

private:
    long objects_ = 0;
    long contexts_ = 0;
    long gdi_ = 0;
};

// ---- Media-graph devices ----------------------------------------------------------------------

enum class Kind { PushVideo, PushAudio, PullVideo, PullAudio };

struct MediaRow {
    const char* call;
    Kind kind;
    std::function<void(TQZDevice&)> set;  // the hostile fields
    bool opens;
    const char* box;  // the first failure box, "" for none
    // What the device was asked (every SetFormat), when the row says more than Open's result.
    std::function<bool(const VornWorld::FormatRequest&)> asked = nullptr;
};

// Every frame interval asked of a video pin equals `interval` (100-ns units).
std::function<bool(const VornWorld::FormatRequest&)> Interval(REFERENCE_TIME interval) {
    return [interval](const VornWorld::FormatRequest& r) { return r.avgTimePerFrame == interval; };
}

// No wave format asked of an audio pin carries fields that overflowed.
bool SaneWave(const VornWorld::FormatRequest& r) {
    const WAVEFORMATEX& w = r.wave;
    return w.nBlockAlign == std::uint32_t{w.nChannels} * w.wBitsPerSample / 8 &&
           w.nAvgBytesPerSec == static_cast<DWORD>(w.nBlockAlign) * w.nSamplesPerSec;
}

std::function<void(TQZDevice&)> At(unsigned int index) {
    return [index](TQZDevice& device) { device.Index = index; };
}

std::function<void(TQZDevice&)> Video(unsigned int width, unsigned int height,
                                      unsigned int frameRate) {
    return [=](TQZDevice& device) {
        auto& video = static_cast<TQZVideoDevice&>(device);
        video.Width = width;
        video.Height = height;
        video.FrameRate = frameRate;
    };
}

std::function<void(TQZDevice&)> Audio(unsigned int rate, unsigned int bits, unsigned int channels) {
    return [=](TQZDevice& device) {
        auto& audio = static_cast<TQZAudioDevice&>(device);
        audio.SampleRate = rate;
        audio.BitsPerSample = bits;
        audio.Channels = channels;
    };
}

std::unique_ptr<TQZDevice> MakeDevice(Kind kind) {
    switch (kind) {
        case Kind::PushVideo:
            return std::unique_ptr<TQZDevice>(new TQZUSBVideoDevice());
        case Kind::PushAudio:
            return std::unique_ptr<TQZDevice>(new TQZUSBAudioDevice());
        case Kind::PullVideo:
            return std::unique_ptr<TQZDevice>(new TQZCameraDevice());
        case Kind::PullAudio:
            break;
    }
    return std::unique_ptr<TQZDevice>(new TQZVoiceDevice());
}

TEST_F(HostileWorld, MediaDevicesWithHostileFields) {
    const char* pullBind = "BindFilter Video DeviceFilter ";
    const MediaRow rows[] = {
        {"push video Index 2^31", Kind::PushVideo, At(kHalf), false, "bind Filter"},
        {"push video Index 2^32-1", Kind::PushVideo, At(kTop), false, "bind Filter"},
        {"push audio Index 2^31", Kind::PushAudio, At(kHalf), false, "Bind Device Filter  Error"},
        {"push audio Index 2^32-1", Kind::PushAudio, At(kTop), false, "Bind Device Filter  Error"},
        {"camera Index 2^31", Kind::PullVideo, At(kHalf), false, pullBind},
        {"voice Index 2^32-1", Kind::PullAudio, At(kTop), false, pullBind},
        // Push video: a size or rate the pin cannot take leaves the pin's own format.
        {"push video FrameRate 0: the default 20", Kind::PushVideo, Video(640, 480, 0), true, "",
         Interval(500000)},
        {"push video FrameRate 2^32-1: interval 0, the device's own", Kind::PushVideo,
         Video(640, 480, kTop), true, "", Interval(0)},
        {"push video 0 x 0", Kind::PushVideo, Video(0, 0, 20), true, ""},
        {"push video 2^32-1 x 2^32-1", Kind::PushVideo, Video(kTop, kTop, 20), true, ""},
        {"push video 65536 x 65536", Kind::PushVideo, Video(65536, 65536, 20), true, ""},
        {"push video 2^31 x 1 at 2^31", Kind::PushVideo, Video(kHalf, 1, kHalf), true, ""},
        // Push audio: a format whose products do not fit is not asked for.
        {"push audio 0 Hz, 0 bits, 0 channels", Kind::PushAudio, Audio(0, 0, 0), true, "",
         SaneWave},
        {"push audio 2^32-1 Hz", Kind::PushAudio, Audio(kTop, 16, 2), true, "", SaneWave},
        {"push audio 2^32-1 bits and channels", Kind::PushAudio, Audio(44100, kTop, kTop), true,
         ""},
        {"push audio 65536 x 65536 bits x channels", Kind::PushAudio, Audio(8000, 65536, 65536),
         true, "", SaneWave},
        // Camera: a size the device refuses fails Open without a box.
        {"camera 0 x 0", Kind::PullVideo, Video(0, 0, 20), false, ""},
        {"camera 2^32-1 x 2^32-1", Kind::PullVideo, Video(kTop, kTop, 20), false, ""},
        {"camera 65536 x 65536", Kind::PullVideo, Video(65536, 65536, 20), false, ""},
        {"camera FrameRate 2^32-1", Kind::PullVideo, Video(640, 480, kTop), true, "", SaneWave},
        // Voice: a refused format does not stop Open.
        {"voice 0 Hz, 0 bits, 0 channels", Kind::PullAudio, Audio(0, 0, 0), true, "", SaneWave},
        {"voice 2^32-1 Hz", Kind::PullAudio, Audio(kTop, 16, 2), true, "", SaneWave},
        {"voice 2^32-1 bits and channels", Kind::PullAudio, Audio(44100, kTop, kTop), true, "",
         SaneWave},
        {"voice 2^31 Hz, 32 bits, 16 channels", Kind::PullAudio, Audio(kHalf, 32, 16), true, "",
         SaneWave},
    };
    for (const MediaRow& row : rows) {
        VornWorld::ResetMedia();
        VornWorld::ClearMessageBoxes();
        std::unique_ptr<TQZDevice> device = MakeDevice(row.kind);
        row.set(*device);
        EXPECT_EQ(row.opens, device->Open()) << row.call;
        EXPECT_EQ(row.box, FirstBox()) << row.call;
        if (row.opens && (row.kind == Kind::PullVideo || row.kind == Kind::PullAudio)) {
            TQZPacket* packet = device->Get();
            ASSERT_NE(nullptr, packet) << row.call;
        }
        EXPECT_TRUE(device->Pause()) << row.call;
        EXPECT_TRUE(device->Close()) << row.call;
        EXPECT_TRUE(device->Close()) << row.call;
        EXPECT_EQ(*row.box == '\0' ? 0u : 1u, VornWorld::MessageBoxes().size()) << row.call;
        if (row.asked) {
            // A video pin is asked for the rate last; audio pins may be asked nothing at all.
            const bool video = row.kind == Kind::PushVideo || row.kind == Kind::PullVideo;
            const auto formats =
                VornWorld::Activity(VornWorld::Devices(video ? VornWorld::MediaKind::Video
                                                             : VornWorld::MediaKind::Audio)[0])
                    .formats;
            if (video) {
                ASSERT_FALSE(formats.empty()) << row.call;
                EXPECT_TRUE(row.asked(formats.back())) << row.call;
            }
            for (size_t i = 0; !video && i < formats.size(); ++i)
                EXPECT_TRUE(row.asked(formats[i])) << row.call << ", request " << i;
        }
    }
}

// ---- Windows ----------------------------------------------------------------------------------

using Clock = std::chrono::steady_clock;

// Waits up to `seconds` for a frame on the device's queue; its size, or -1 when none came.
long FrameSize(TQZDevice& device, TQZPacketSet& packets, double seconds) {
    const Clock::time_point end = Clock::now() + std::chrono::milliseconds(long(seconds * 1000));
    while (packets.Count() == 0 && Clock::now() < end)
        std::this_thread::sleep_for(std::chrono::milliseconds(5));
    return packets.Count() == 0 ? -1 : static_cast<long>(device.Get()->Size());
}

TEST_F(HostileWorld, WindowTitlesOf5000BytesAreCutTo1023) {
    const std::string title(5000, 'W');
    HWND window = VornWorld::AddWindow(title.c_str(), RECT{10, 10, 110, 110});
    HWND retitled = VornWorld::AddWindow("short", RECT{20, 20, 120, 120});
    ASSERT_TRUE(VornWorld::SetWindowTitle(retitled, title + "X"));
    TQZWindowDeviceSet windows;
    TQZEnumDevice::EnumAllWindowsDevice(windows);
    ASSERT_EQ(2u, windows.Count());
    for (TQZWindowDevice* device : *windows.GetList()) {
        EXPECT_EQ(title.substr(0, 1023), device->Name);
        EXPECT_EQ(device->Name, device->Caption);
    }
    EXPECT_EQ(nullptr, windows.GetByName(title));
    EXPECT_EQ(window, windows.GetByIndex(1)->WindowHandle);
    VornWorld::RemoveWindow(window);
    VornWorld::RemoveWindow(retitled);
}

struct ClientRow {
    const char* call;
    int width, height;  // the client size
    unsigned int openedWidth, openedHeight;
    long frameBytes;  // -1: no frames
};

TEST_F(HostileWorld, WindowDevicesOnHostileClientAreas) {
    const ClientRow rows[] = {
        {"0 x 0", 0, 0, 0, 0, -1},
        {"3 x 3 rounds down to nothing", 3, 3, 0, 0, -1},
        {"5 x 1", 5, 1, 4, 0, -1},
        {"1023 x 601", 1023, 601, 1020, 600, 1020 * 600 * 3},
        {"16384 x 16384: too large a bitmap", 16384, 16384, 16384, 16384, -1},
    };
    for (const ClientRow& row : rows) {
        const RECT inset = VornWorld::kDefaultInset;
        HWND handle =
            VornWorld::AddWindow("client", RECT{0, 0, row.width + inset.left + inset.right,
                                                row.height + inset.top + inset.bottom});
        ASSERT_NE(nullptr, handle) << row.call;
        TQZWindowDevice device;
        device.WindowHandle = handle;
        device.FrameRate = 50;
        ASSERT_TRUE(device.Open()) << row.call;
        EXPECT_EQ(row.openedWidth, device.Width) << row.call;
        EXPECT_EQ(row.openedHeight, device.Height) << row.call;
        EXPECT_EQ(row.frameBytes, FrameSize(device, device.Packets, row.frameBytes < 0 ? 0.3 : 5))
            << row.call;
        EXPECT_TRUE(device.Close()) << row.call;
        VornWorld::RemoveWindow(handle);
    }
}

TEST_F(HostileWorld, AWindowThatVanishesUnderItsDeviceEndsItsFramesOnly) {
    HWND handle = VornWorld::AddWindow("doomed", RECT{0, 0, 72, 92});
    TQZWindowDevice device;
    device.WindowHandle = handle;
    device.FrameRate = kTop;
    ASSERT_TRUE(device.Open());
    EXPECT_EQ(64L * 64 * 3, FrameSize(device, device.Packets, 5));
    ASSERT_TRUE(VornWorld::ResizeWindowTo(handle, 11, 29));  // a client of 3 x 1: no frame
    ASSERT_TRUE(VornWorld::SetWindowTitle(handle, std::string(5000, 'x')));
    ASSERT_TRUE(VornWorld::RemoveWindow(handle));
    std::this_thread::sleep_for(std::chrono::milliseconds(100));
    device.Packets.Free();
    std::this_thread::sleep_for(std::chrono::milliseconds(100));
    EXPECT_EQ(0u, device.Packets.Count());
    EXPECT_TRUE(device.Pause());
    EXPECT_TRUE(device.Close());
    EXPECT_TRUE(device.Open());  // the handle no longer names a window: opens, no frames
    EXPECT_TRUE(device.Close());
    EXPECT_EQ(0u, device.Packets.Count());
}

// ---- The largest screen -----------------------------------------------------------------------

using DesktopProbe = CaptureProbe<TQZDesktopDevice>;

// The widest and the tallest screen (a screen of the largest side both ways would make the
// virtual display compose a gigabyte for every copy).
TEST_F(HostileWorld, TheWidestAndTallestScreens) {
    const int side = VornWorld::kMaxScreenSide;
    for (const SIZE screen : {SIZE{side, 64}, SIZE{64, side}}) {
        ASSERT_TRUE(VornWorld::SetScreenSize(screen.cx, screen.cy));
        const unsigned int w = static_cast<unsigned int>(screen.cx);
        const struct {
            unsigned int width, height;
            long frameBytes;  // -1: no frame
        } rows[] = {
            {16384, 16384, -1},                            // more pixels than a bitmap may hold
            {w, 4, static_cast<long>(w) * 4 * 3},          // a strip across the whole screen
            {w + 1, 3, static_cast<long>(w + 1) * 3 * 3},  // one odd column beyond the screen
            {kTop / 3 + 1, 1, -1},                         // width x 3 wraps in 32 bits
        };
        for (const auto& row : rows) {
            TQZDesktopDevice device;
            device.Width = row.width;
            device.Height = row.height;
            ASSERT_TRUE(device.Open());
            EXPECT_EQ(row.frameBytes,
                      FrameSize(device, device.Packets, row.frameBytes < 0 ? 0.3 : 5))
                << screen.cx << " x " << screen.cy << " screen, " << row.width << " x "
                << row.height;
            EXPECT_TRUE(device.Close());
        }
        DesktopProbe probe;  // the whole desktop window, rows padded to 4 bytes
        probe.CaptureWindowTransalteRGB24(nullptr, false);
        probe.CaptureWindowTransalteRGB24(nullptr, true);
        const long stride = (static_cast<long>(screen.cx) * 3 + 3) / 4 * 4;
        EXPECT_EQ(std::vector<long>(2, stride * screen.cy), probe.frames);
    }
}

}  // namespace
