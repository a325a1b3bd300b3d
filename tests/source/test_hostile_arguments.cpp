// SPDX-License-Identifier: MIT
// Public operations with the arguments a careless or hostile host may pass: null pointers, huge
// sizes (whose 32-bit products wrap), frame rates and indices 2^31 and 2^32 - 1, 5,000-byte texts
// and calls in the wrong order, each with the defined result it must give (the sanitizer builds
// catch overruns). Cases the class tests cover are not repeated. No media-graph device is opened
// here (a failing Open shows a modal box on a real system); the virtual tests cover those.
#include <gtest/gtest.h>

#include <chrono>
#include <climits>
#include <cstdint>
#include <functional>
#include <limits>
#include <string>
#include <thread>
#include <type_traits>
#include <vector>

#include "captureprobe.h"
#include "devicedescription.h"
#include "graphprobes.h"
#include "recordbytes.h"
#include "tqzenumdevice.h"
#include "tqzframeset.h"
#include "tqzpacketset.h"

using namespace TQZCapture;

namespace {

constexpr unsigned int kTop = 0xFFFFFFFFu;   // 2^32 - 1
constexpr unsigned int kHalf = 0x80000000u;  // 2^31
constexpr unsigned long kLongTop = std::numeric_limits<unsigned long>::max();
const std::string kLong(5000, 'T');  // a 5,000-byte title

// A table row's call on objects the whole table shares: its text, and the call itself.
#define RUN(...) #__VA_ARGS__, [&] { return static_cast<long>(__VA_ARGS__); }

const unsigned char* U(const char* text) { return reinterpret_cast<const unsigned char*>(text); }

// ---- Stores, records and queues ---------------------------------------------------------------

// "pushed/count/max" after one Push of `item`.
template <class Queue, class Item>
std::string PushOnce(Queue& queue, const Item& item) {
    const unsigned long pushed = queue.Push(&item);
    return std::to_string(pushed) + "/" + std::to_string(queue.Count()) + "/" +
           std::to_string(queue.GetTheMaxCount());
}

template <class Queue, class Item>
void ExpectHostileQueue(const Item& item) {
    Queue none(0), huge(kLongTop), queue(2);
    EXPECT_EQ("0/0/0", PushOnce(none, item)) << "maxCount 0 refuses every push";
    EXPECT_EQ("1/1/4294967295", PushOnce(huge, item)) << "maxCount ULONG_MAX is capped";

    // Empty: Get and Query give the same empty slots each time.
    Item* got = queue.Get();
    Item* queried = queue.Query();
    EXPECT_TRUE(got == queue.Get() && queried == queue.Query() && got != queried);
    EXPECT_EQ("", BytesOf(*got) + BytesOf(*queried));

    queue.Push(&item);
    queue.SetTheMaxCount(0);
    EXPECT_EQ("1/1/0", PushOnce(queue, item)) << "the stored one is kept, no more taken";
    queue.SetTheMaxCount(kLongTop);
    EXPECT_EQ(4294967295ul, queue.GetTheMaxCount());

    queue.Push(&item);
    Item* last = queue.Get();
    queue.Free();
    queue.Free();
    EXPECT_EQ(0u, queue.Count());
    EXPECT_EQ(last, queue.Get()) << "Free leaves the slots";
    // The packet slot keeps the last packet taken; the frame Get slot is never filled.
    EXPECT_EQ((std::is_same<Queue, TQZPacketSet>::value ? BytesOf(item) : ""), BytesOf(*last));
}

TEST(HostileArguments, PacketAndFrameQueues) {
    TQZPacket packet;
    packet.Append(U("x"), 1, 0);
    ExpectHostileQueue<TQZPacketSet>(packet);
    ExpectHostileQueue<TQZFrameSet>(TQZFrame("x", 1));
}

// ---- Devices before Open ----------------------------------------------------------------------

// What a device answers to Close, Close, Pause, Get, Query and Get before any Open, after every
// hook has been called with hostile arguments.
template <class Device>
std::string BeforeOpen() {
    Device device;
    device.OnError(kTop);
    device.OnOpenBefore(nullptr);
    device.OnOpenAFter();
    device.OnCloseBefore();
    device.OnCloseAFter();
    const auto packet = [](TQZPacket* p) {
        return p == nullptr ? std::string(" null") : p->Size() == 0 ? " empty" : " data";
    };
    return std::to_string(device.Close()) + std::to_string(device.Close()) +
           std::to_string(device.Pause()) + packet(device.Get()) + packet(device.Query()) +
           packet(device.Get());
}

TEST(HostileArguments, DevicesBeforeOpen) {
    EXPECT_EQ("111 null null null", BeforeOpen<TQZUSBVideoDevice>());
    EXPECT_EQ("111 empty null empty", BeforeOpen<TQZUSBAudioDevice>());
    EXPECT_EQ("111 empty empty empty", BeforeOpen<TQZCameraDevice>());
    EXPECT_EQ("111 empty empty empty", BeforeOpen<TQZVoiceDevice>());
    EXPECT_EQ("111 empty empty empty", BeforeOpen<TQZDesktopDevice>());
    EXPECT_EQ("111 empty empty empty", BeforeOpen<TQZWindowDevice>());
    // A null name and a null source give the defaults (the capture devices' in FromPointerTest).
    const TQZWindowDevice window(static_cast<const TQZWindowDevice*>(nullptr));
    EXPECT_EQ(nullptr, window.WindowHandle);
    EXPECT_EQ("", window.Name + TQZDesktopDevice(static_cast<char*>(nullptr)).Name +
                      TQZDesktopDevice(static_cast<const TQZDesktopDevice*>(nullptr)).Name);
    std::string title = kLong;
    const TQZDesktopDevice named(&title[0]);
    EXPECT_EQ(kLong + "|" + kLong, named.Name + "|" + named.Caption);
}

// ---- Screen devices: hostile capture fields and call orders -----------------------------------

using Clock = std::chrono::steady_clock;

double SecondsSince(Clock::time_point start) {
    return std::chrono::duration<double>(Clock::now() - start).count();
}

TEST(HostileArguments, DesktopDeviceCaptureFields) {
    // Width or height -1 when signed, width x 3 wrapping to 2 and width x height x 3 passing
    // 2^32 give no frame; an odd width at frame rate 0, and frame rate 2^32 - 1 (no pause between
    // frames at all) give packed frames.
    const struct {
        unsigned int width, height, frameRate;
        long frameBytes;  // -1: no frame at all
    } rows[] = {{kTop, 480, 20, -1},    {640, kTop, 20, -1},      {0x55555556u, 1, 20, -1},
                {46341, 46341, 20, -1}, {641, 3, 0, 641 * 3 * 3}, {3, 1, kTop, 9}};
    for (const auto& row : rows) {
        const std::string call = Join({row.width, row.height, row.frameRate});
        TQZDesktopDevice device;
        device.Width = row.width;
        device.Height = row.height;
        device.FrameRate = row.frameRate;
        ASSERT_TRUE(device.Open()) << call;
        // The first frame's size, or -1 when none came in time.
        const Clock::time_point start = Clock::now();
        while (device.Packets.Count() == 0 && SecondsSince(start) < (row.frameBytes < 0 ? 0.3 : 5))
            std::this_thread::sleep_for(std::chrono::milliseconds(5));
        const long bytes =
            device.Packets.Count() == 0 ? -1 : static_cast<long>(device.Query()->Size());
        EXPECT_EQ(row.frameBytes, bytes) << call;
        const Clock::time_point closing = Clock::now();
        EXPECT_TRUE(device.Close()) << call;
        EXPECT_LT(SecondsSince(closing), 5.0) << call << ": Close took too long";
    }
}

// Calls in the wrong order: each letter is a call (O Open, C Close, P Pause, G Get, Q Query), each
// result a digit (Get and Query: 1 for a non-null packet).
std::string RunSequence(TQZDevice& d, const std::string& calls) {
    std::string results;
    for (char c : calls) {
        const bool result = c == 'O'   ? d.Open()
                            : c == 'C' ? d.Close()
                            : c == 'P' ? d.Pause()
                                       : (c == 'G' ? d.Get() : d.Query()) != nullptr;
        results += result ? '1' : '0';
    }
    return results;
}

TEST(HostileArguments, ScreenDevicesInTheWrongOrder) {
    // Pausing a device that never ran changes nothing; a second Open, and Open while paused, are
    // refused; a second Close does nothing; a paused device closes, reopens after Close, and is
    // destroyed while paused ("OP") or running again ("OPP").
    const struct {
        const char* calls;
        const char* results;
    } rows[] = {{"PPOC", "1111"}, {"OOCC", "1011"},   {"OPPGQC", "111111"}, {"OPOC", "1101"},
                {"OCOC", "1111"}, {"GQCGQ", "11111"}, {"OP", "11"},         {"OPP", "111"}};
    for (const auto& row : rows) {
        TQZDesktopDevice desktop;
        desktop.Width = 64;
        desktop.Height = 48;
        desktop.FrameRate = 100;
        TQZWindowDevice window;  // no window: it runs without frames
        window.FrameRate = kTop;
        for (TQZDevice* device :
             {static_cast<TQZDevice*>(&desktop), static_cast<TQZDevice*>(&window)}) {
            const Clock::time_point start = Clock::now();
            EXPECT_EQ(row.results, RunSequence(*device, row.calls)) << row.calls;
            EXPECT_LT(SecondsSince(start), 10.0) << row.calls;
        }
    }
}

// The protected capture operations, as a derived class reaches them, with hostile rectangles
// and handles.
TEST(HostileArguments, ScreenCaptureRectangles) {
    const struct {
        const char* call;
        bool null;
        RECT area;
        long desktopBytes;    // -1: no frame; 0: at most one frame, of 48 bytes
        size_t windowFrames;  // the window device clips the rectangle to the screen first
    } rows[] = {
        {"null", true, {0, 0, 0, 0}, -1, 0},
        {"empty", false, {0, 0, 0, 0}, -1, 0},
        {"INT_MIN to INT_MAX wide", false, {INT_MIN, 0, INT_MAX, 4}, -1, 1},
        {"INT_MAX to INT_MIN", false, {INT_MAX, INT_MAX, INT_MIN, INT_MIN}, -1, 0},
        {"4 x 4 at the origin", false, {0, 0, 4, 4}, 48, 1},
        {"4 x 4 at INT_MIN", false, {INT_MIN, INT_MIN, INT_MIN + 4, INT_MIN + 4}, 0, 0},
        {"4 x 4 at INT_MAX - 4", false, {INT_MAX - 4, INT_MAX - 4, INT_MAX, INT_MAX}, 0, 0},
    };
    for (const auto& row : rows) {
        CaptureProbe<TQZDesktopDevice> desktop;
        CaptureProbe<TQZWindowDevice> window;
        RECT area = row.area;
        desktop.CaptureDesktopTransalteRGB24(row.null ? nullptr : &area);
        window.CaptureDesktopTransalteRGB24(row.null ? nullptr : &area);
        EXPECT_LE(desktop.frames.size(), row.desktopBytes < 0 ? 0u : 1u) << row.call;
        EXPECT_GE(desktop.frames.size(), row.desktopBytes > 0 ? 1u : 0u) << row.call;
        for (long bytes : desktop.frames) EXPECT_EQ(48, bytes) << row.call;
        EXPECT_EQ(row.windowFrames, window.frames.size()) << row.call;
    }
    CaptureProbe<TQZWindowDevice> window;  // windows that do not exist
    window.CaptureWindowTransalteRGB24(nullptr, true);
    window.CaptureWindowTransalteRGB24(reinterpret_cast<HWND>(uintptr_t{0x7ffe1234}), false);
    EXPECT_TRUE(window.frames.empty());
}

// ---- Media-graph devices: graph operations without a graph ------------------------------------

template <class Device>
class PullProbe : public Device {
public:
    using Device::BindFilter;
    using Device::SetCrossBar;
};

TEST(HostileArguments, GraphOperationsWithoutAGraph) {
    VideoGraphProbe video;
    AudioGraphProbe audio;
    PullProbe<TQZCameraDevice> camera;
    PullProbe<TQZVoiceDevice> voice;
    IBaseFilter* filter = nullptr;
    IPin* pin = nullptr;
    TQZComPointer<IGraphBuilder> noGraph;
    TQZComPointer<IBaseFilter> noFilter;
    const struct {
        const char* call;
        std::function<long()> run;
        long result;
    } rows[] = {
        {RUN(video.SetVideoCapFormat(kTop, kTop, 0, DataTypeRGB24)), E_INVALIDARG},
        {RUN(video.SetVideoCapFormat(640, 480, 20, DataTypePCM)), E_FAIL},
        {RUN(video.SetVideoCapFormat(640, 480, 20, DataTypeI420)), E_FAIL},  // no builder
        {RUN(video.UpdateVideoCapOpt(kHalf, 1, kTop, DataTypeI420, false)), E_INVALIDARG},
        {RUN(video.UpdateVideoCapOpt(640, 480, 0, DataTypeI420, false)), E_FAIL},
        {RUN(video.ConnectFilters(nullptr, nullptr)), E_FAIL},
        {RUN(video.ConnectFilters(noGraph, noFilter, noFilter)), E_INVALIDARG},
        {RUN(video.GetPin(nullptr, PINDIR_INPUT, nullptr)), E_POINTER},
        {RUN(video.GetPin(nullptr, PINDIR_OUTPUT, &pin) < 0), 1},
        {RUN(audio.EnumPinsOnFilter(nullptr, PINDIR_OUTPUT)), 0},
        {RUN(video.BindFilter(-1, &filter)), 0},
        {RUN(voice.BindFilter(INT_MIN, &filter)), 0},
        {RUN(audio.SetAudioCapFormat(kTop, kTop, kTop, kTop)), 1},
        {RUN((camera.SetCrossBar(), voice.SetCrossBar(), 0)), 0},
    };
    for (const auto& row : rows) EXPECT_EQ(row.result, row.run()) << row.call;
    EXPECT_EQ(nullptr, filter);
    EXPECT_EQ(nullptr, pin);
    EXPECT_EQ(Join({640, 480, 20}), Join({video.Width, video.Height, video.FrameRate}));
    EXPECT_EQ(Join({44100, 16, 2}), Join({audio.SampleRate, audio.BitsPerSample, audio.Channels}));
    // The three values are stored before they are checked, and before the graph is looked for.
    EXPECT_EQ(E_FAIL, audio.UpdateAudioCapOpt(0, 8000, 8, 1));
    EXPECT_EQ(Join({8000, 8, 1}), Join({audio.SampleRate, audio.BitsPerSample, audio.Channels}));
    EXPECT_EQ(E_INVALIDARG, audio.UpdateAudioCapOpt(kTop, kTop, kTop, kTop));
    EXPECT_EQ(Join({kTop, kTop, kTop}),
              Join({audio.SampleRate, audio.BitsPerSample, audio.Channels}));
    // A media type's format block is freed and forgotten; a null record is let alone.
    auto* type = static_cast<AM_MEDIA_TYPE*>(CoTaskMemAlloc(sizeof(AM_MEDIA_TYPE)));
    ASSERT_NE(nullptr, type);
    *type = AM_MEDIA_TYPE();
    type->cbFormat = 88;
    type->pbFormat = static_cast<BYTE*>(CoTaskMemAlloc(88));
    video.FreeMediaType(*type);
    EXPECT_EQ(0u, type->cbFormat);
    EXPECT_EQ(nullptr, type->pbFormat);
    video.DeleteMediaType(type);
    video.DeleteMediaType(nullptr);
}

TEST(HostileArguments, EnumeratorsReplaceHostileContent) {
    TQZEnumDevice all;
    TQZDesktopDevice hostile;
    hostile.Name = kLong;
    hostile.Index = kTop;
    all.DesktopDevices.Push(&hostile);
    TQZEnumDevice::EnumDesktopDevice(all.DesktopDevices);
    EXPECT_EQ(nullptr, all.DesktopDevices.GetByName(kLong));
    ASSERT_EQ(1u, all.DesktopDevices.Count());
    // Refilling a set whose device is capturing deletes the device, which stops first.
    TQZDesktopDevice* running = all.DesktopDevices.GetByIndex(0);
    running->Width = running->Height = 32;
    ASSERT_TRUE(running->Open());
    running->Pause();
    const Clock::time_point start = Clock::now();
    TQZEnumDevice::EnumDesktopDevice(all.DesktopDevices);
    EXPECT_LT(SecondsSince(start), 5.0);
    EXPECT_EQ(1u, all.DesktopDevices.Count());
}

}  // namespace
