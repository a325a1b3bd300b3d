// SPDX-License-Identifier: MIT
// Hostile capture fields and hostile worlds for the devices that need the virtual platform: the
// four media-graph devices with frame rate 2^32 - 1, zero and huge sizes and sample formats;
// windows with empty, odd or vanishing client areas; the largest virtual screen. Each row names
// its defined result (the Open result, or what frames arrive), and nothing may be left behind.
#include <gtest/gtest.h>

#include <chrono>
#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include "captureprobe.h"
#include "screen_fixture.h"
#include "tqzcameradevice.h"
#include "tqzdesktopdevice.h"
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

// The screen fixture's clean display and leak checks, with a fresh media world and no COM
// object or streaming thread left behind either.
class HostileWorld : public ScreenTest {
protected:
    void SetUp() override {
        ScreenTest::SetUp();
        VornWorld::ResetMedia();
        objects_ = VornWorld::LiveComObjects();
    }
    void TearDown() override {
        EXPECT_EQ(objects_, VornWorld::LiveComObjects()) << "COM objects left";
        EXPECT_EQ(0, VornWorld::LiveStreamingThreads()) << "streaming threads left";
        VornWorld::ClearMessageBoxes();
        ScreenTest::TearDown();
    }

    // Waits for a frame on the device's queue (300 ms when none is expected); its size, or -1.
    template <class Device>
    static long FrameSize(Device& device, bool expected = true) {
        if (expected) Eventually([&] { return device.Packets.Count() > 0; });
        if (!expected) std::this_thread::sleep_for(std::chrono::milliseconds(300));
        return device.Packets.Count() == 0 ? -1 : static_cast<long>(device.Get()->Size());
    }

private:
    long objects_ = 0;
};

// ---- Media-graph devices ----------------------------------------------------------------------

enum class Kind { PushVideo, PushAudio, PullVideo, PullAudio };
using Asked = std::function<bool(const VornWorld::FormatRequest&)>;

// Every frame interval asked of a video pin equals `interval` (100-ns units).
Asked Interval(REFERENCE_TIME interval) {
    return [interval](const VornWorld::FormatRequest& r) { return r.avgTimePerFrame == interval; };
}

// No wave format asked of an audio pin carries fields that overflowed.
bool SaneWave(const VornWorld::FormatRequest& r) {
    const WAVEFORMATEX& w = r.wave;
    return w.nBlockAlign == std::uint32_t{w.nChannels} * w.wBitsPerSample / 8 &&
           w.nAvgBytesPerSec == static_cast<DWORD>(w.nBlockAlign) * w.nSamplesPerSec;
}

// The device of `kind` with fields a, b, c: width, height and frame rate for video; sample
// rate, bits and channels for audio.
std::unique_ptr<TQZDevice> MakeDevice(Kind kind, unsigned int a, unsigned int b, unsigned int c) {
    if (kind == Kind::PushVideo || kind == Kind::PullVideo) {
        std::unique_ptr<TQZVideoDevice> video;
        if (kind == Kind::PushVideo) video.reset(new TQZUSBVideoDevice());
        if (kind == Kind::PullVideo) video.reset(new TQZCameraDevice());
        video->Width = a, video->Height = b, video->FrameRate = c;
        return video;
    }
    std::unique_ptr<TQZAudioDevice> audio;
    if (kind == Kind::PushAudio) audio.reset(new TQZUSBAudioDevice());
    if (kind == Kind::PullAudio) audio.reset(new TQZVoiceDevice());
    audio->SampleRate = a, audio->BitsPerSample = b, audio->Channels = c;
    return audio;
}

// None of these shows a failure box; a pull device that opens grabs a sample.
TEST_F(HostileWorld, MediaDevicesWithHostileFields) {
    const struct {
        const char* call;
        Kind kind;
        unsigned int a, b, c;  // as MakeDevice takes them
        bool opens;
        // What the device was asked (every SetFormat), when the row says more than Open's result.
        Asked asked = nullptr;
    } rows[] = {
        // Push video: a size or rate the pin cannot take leaves the pin's own format.
        {"push video FrameRate 2^32-1: interval 0, the device's own", Kind::PushVideo, 640, 480,
         kTop, true, Interval(0)},
        {"push video 2^32-1 x 2^32-1", Kind::PushVideo, kTop, kTop, 20, true},
        {"push video 65536 x 65536", Kind::PushVideo, 65536, 65536, 20, true},
        {"push video 2^31 x 1 at 2^31", Kind::PushVideo, kHalf, 1, kHalf, true},
        // Push audio: a format whose products do not fit is not asked for.
        {"push audio 0 Hz, 0 bits, 0 channels", Kind::PushAudio, 0, 0, 0, true, SaneWave},
        {"push audio 2^32-1 Hz", Kind::PushAudio, kTop, 16, 2, true, SaneWave},
        {"push audio 2^32-1 bits and channels", Kind::PushAudio, 44100, kTop, kTop, true},
        {"push audio 65536 x 65536 bits x channels", Kind::PushAudio, 8000, 65536, 65536, true,
         SaneWave},
        // Camera: a size the device refuses fails Open.
        {"camera 2^32-1 x 2^32-1", Kind::PullVideo, kTop, kTop, 20, false},
        {"camera 65536 x 65536", Kind::PullVideo, 65536, 65536, 20, false},
        {"camera FrameRate 2^32-1", Kind::PullVideo, 640, 480, kTop, true, SaneWave},
        // Voice: a refused format does not stop Open.
        {"voice 2^32-1 Hz", Kind::PullAudio, kTop, 16, 2, true, SaneWave},
        {"voice 2^31 Hz, 32 bits, 16 channels", Kind::PullAudio, kHalf, 32, 16, true, SaneWave},
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(row.call);
        VornWorld::ResetMedia();
        std::unique_ptr<TQZDevice> device = MakeDevice(row.kind, row.a, row.b, row.c);
        const bool video = row.kind == Kind::PushVideo || row.kind == Kind::PullVideo;
        const bool pull = row.kind == Kind::PullVideo || row.kind == Kind::PullAudio;
        EXPECT_EQ(row.opens, device->Open());
        if (row.opens && pull) {
            ASSERT_NE(nullptr, device->Get());
        }
        EXPECT_TRUE(device->Pause());
        EXPECT_TRUE(device->Close());
        EXPECT_TRUE(device->Close());
        EXPECT_TRUE(VornWorld::MessageBoxes().empty());
        if (!row.asked) continue;
        // A video pin is asked for the rate last; audio pins may be asked nothing at all.
        const auto formats =
            VornWorld::Activity(VornWorld::Devices(video ? VornWorld::MediaKind::Video
                                                         : VornWorld::MediaKind::Audio)[0])
                .formats;
        if (video) {
            ASSERT_FALSE(formats.empty());
        }
        for (size_t i = video ? formats.size() - 1 : 0; i < formats.size(); ++i)
            EXPECT_TRUE(row.asked(formats[i])) << "request " << i;
    }
}

// ---- Windows ----------------------------------------------------------------------------------

TEST_F(HostileWorld, WindowDevicesOnHostileClientAreas) {
    const struct {
        const char* call;
        int width, height;  // the client size
        unsigned int openedWidth, openedHeight;
        long frameBytes;  // -1: no frames
    } rows[] = {
        {"0 x 0", 0, 0, 0, 0, -1},
        {"3 x 3 rounds down to nothing", 3, 3, 0, 0, -1},
        {"5 x 1", 5, 1, 4, 0, -1},
        {"1023 x 601", 1023, 601, 1020, 600, 1020 * 600 * 3},
        {"16384 x 16384: too large a bitmap", 16384, 16384, 16384, 16384, -1},
    };
    const RECT inset = VornWorld::kDefaultInset;
    for (const auto& row : rows) {
        SCOPED_TRACE(row.call);
        HWND handle =
            VornWorld::AddWindow("client", RECT{0, 0, row.width + inset.left + inset.right,
                                                row.height + inset.top + inset.bottom});
        ASSERT_NE(nullptr, handle);
        TQZWindowDevice device;
        device.WindowHandle = handle;
        device.FrameRate = 50;
        ASSERT_TRUE(device.Open());
        EXPECT_EQ(row.openedWidth, device.Width);
        EXPECT_EQ(row.openedHeight, device.Height);
        EXPECT_EQ(row.frameBytes, FrameSize(device, row.frameBytes >= 0));
        EXPECT_TRUE(device.Close());
        VornWorld::RemoveWindow(handle);
    }
}

// A window resized, retitled and finally removed under a running device at the highest rate:
// its frames end, the device still pauses, closes and reopens.
TEST_F(HostileWorld, AWindowThatVanishesUnderItsDeviceEndsItsFramesOnly) {
    HWND handle = VornWorld::AddWindow("doomed", RECT{0, 0, 72, 92});
    TQZWindowDevice device;
    device.WindowHandle = handle;
    device.FrameRate = kTop;
    ASSERT_TRUE(device.Open());
    EXPECT_EQ(64L * 64 * 3, FrameSize(device));
    for (int i = 0; i < 50; ++i) {
        ASSERT_TRUE(VornWorld::ResizeWindowTo(handle, 100 + i * 7, 80 + i * 3));
        ASSERT_TRUE(VornWorld::SetWindowTitle(handle, std::string(i * 100u, 'x')));
    }
    ASSERT_TRUE(VornWorld::ResizeWindowTo(handle, 11, 29));  // a client of 3 x 1: no frame
    ASSERT_TRUE(VornWorld::SetWindowTitle(handle, std::string(5000, 'x')));
    ASSERT_TRUE(VornWorld::RemoveWindow(handle));
    // A frame whose capture began before the window went may still arrive: on a loaded
    // machine, or under ThreadSanitizer, one capture can take tens of milliseconds.
    std::this_thread::sleep_for(std::chrono::milliseconds(300));
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

// The widest and the tallest screen (a screen of the largest side both ways would make the
// virtual display compose a gigabyte for every copy): a region one odd column wider than the
// screen is captured whole, and the whole desktop window comes with rows padded to 4 bytes.
TEST_F(HostileWorld, TheWidestAndTallestScreens) {
    const int side = VornWorld::kMaxScreenSide;
    for (const SIZE screen : {SIZE{side, 64}, SIZE{64, side}}) {
        SCOPED_TRACE(std::to_string(screen.cx) + " x " + std::to_string(screen.cy));
        ASSERT_TRUE(VornWorld::SetScreenSize(screen.cx, screen.cy));
        TQZDesktopDevice device;
        device.Width = static_cast<unsigned int>(screen.cx) + 1;
        device.Height = 3;
        ASSERT_TRUE(device.Open());
        EXPECT_EQ((screen.cx + 1) * 3L * 3, FrameSize(device));
        EXPECT_TRUE(device.Close());
        CaptureProbe<TQZDesktopDevice> probe;
        probe.CaptureWindowTransalteRGB24(nullptr, false);
        probe.CaptureWindowTransalteRGB24(nullptr, true);
        const long stride = (static_cast<long>(screen.cx) * 3 + 3) / 4 * 4;
        EXPECT_EQ(std::vector<long>(2, stride * screen.cy), probe.frames);
    }
}

}  // namespace
