// Every public operation with the arguments a careless or hostile host may pass: null pointers,
// zero and huge sizes (including sizes whose 32-bit products wrap), frame rates 0 and 2^32 - 1,
// indices 2^31 and 2^32 - 1, texts of 5,000 bytes, odd sizes and calls in the wrong order. Each
// row is a call and the defined result it must give; the sanitizer builds turn any overrun on
// the way into a failure. Nothing here opens a media-graph device (a failing Open shows a modal
// box on a real system); the virtual tests cover those.
#include <gtest/gtest.h>

#include <chrono>
#include <climits>
#include <cmath>
#include <cstdint>
#include <cstring>
#include <functional>
#include <limits>
#include <memory>
#include <string>
#include <thread>
#include <type_traits>
#include <vector>

#include "captureprobe.h"
#include "devicedescription.h"
#include "graphprobes.h"
#include "tqzautolocker.h"
#include "tqzbuffer.h"
#include "tqzcameradeviceset.h"
#include "tqzcolorspaceconvert.h"
#include "tqzdesktopdeviceset.h"
#include "tqzenumdevice.h"
#include "tqzframe.h"
#include "tqzframeset.h"
#include "tqzmreadswritelocker.h"
#include "tqzmutex.h"
#include "tqzmutexlocker.h"
#include "tqzpacket.h"
#include "tqzpacketset.h"
#include "tqzthread.h"
#include "tqzusbaudiodeviceset.h"
#include "tqzusbvideodeviceset.h"
#include "tqzvoicedeviceset.h"
#include "tqzwindowdeviceset.h"

using namespace TQZCapture;

namespace {

constexpr unsigned int kTop = 0xFFFFFFFFu;   // 2^32 - 1
constexpr unsigned int kHalf = 0x80000000u;  // 2^31
constexpr unsigned long kLongTop = std::numeric_limits<unsigned long>::max();
const std::string kLong(5000, 'T');  // a 5,000-byte title
const unsigned char kByte[1] = {'x'};

std::string Text(const unsigned char* bytes, size_t size) {
    return bytes == nullptr ? std::string()
                            : std::string(reinterpret_cast<const char*>(bytes), size);
}

// ---- TQZMemory --------------------------------------------------------------------------------

struct MemoryRow {
    const char* call;
    std::function<unsigned long(TQZMemory&)> run;
    unsigned long result;
    std::string after;
};

TEST(HostileArguments, Memory) {
    const MemoryRow rows[] = {
        {"Append(null, 10, 0)", [](TQZMemory& m) { return m.Append(nullptr, 10, 0); }, 4, "abcd"},
        {"Append(p, 0, 2)", [](TQZMemory& m) { return m.Append(kByte, 0, 2); }, 4, "abcd"},
        {"Append(p, 1, 2^32-1)", [](TQZMemory& m) { return m.Append(kByte, 1, kTop); }, 4, "abcd"},
        {"Append(p, 2^32-1, 1)", [](TQZMemory& m) { return m.Append(kByte, kTop, 1); }, 4, "abcd"},
        {"Append(p, 1, max)", [](TQZMemory& m) { return m.Append(kByte, 1, kLongTop); }, 4, "abcd"},
        {"Append(p, max, 4)", [](TQZMemory& m) { return m.Append(kByte, kLongTop, 4); }, 4, "abcd"},
        {"Append(p, 1, 6) leaves a zero gap", [](TQZMemory& m) { return m.Append(kByte, 1, 6); }, 7,
         std::string("abcd\0\0x", 7)},
        {"Append(own bytes, 4, 4)", [](TQZMemory& m) { return m.Append(m.Bytes(), 4, 4); }, 8,
         "abcdabcd"},
        {"Append(own bytes + 1, 2, 1)", [](TQZMemory& m) { return m.Append(m.Bytes() + 1, 2, 1); },
         3, "abc"},
        {"Erase(0, 2)", [](TQZMemory& m) { return m.Erase(0, 2), m.Size(); }, 4, "abcd"},
        {"Erase(2, 0)", [](TQZMemory& m) { return m.Erase(2, 0), m.Size(); }, 4, "abcd"},
        {"Erase(3, 1)", [](TQZMemory& m) { return m.Erase(3, 1), m.Size(); }, 4, "abcd"},
        {"Erase(4, 9)", [](TQZMemory& m) { return m.Erase(4, 9), m.Size(); }, 4, "abcd"},
        {"Erase(2^31, 2^32-1)", [](TQZMemory& m) { return m.Erase(kHalf, kTop), m.Size(); }, 4,
         "abcd"},
        {"Erase(1, 2^32-1)", [](TQZMemory& m) { return m.Erase(1, kTop), m.Size(); }, 1, "a"},
        {"Erase(1, 3)", [](TQZMemory& m) { return m.Erase(1, 3), m.Size(); }, 2, "ad"},
        {"CopyFrom(null)", [](TQZMemory& m) { return m.CopyFrom(nullptr) ? 1ul : 0ul; }, 0, ""},
        {"CopyFrom(itself)", [](TQZMemory& m) { return m.CopyFrom(&m) ? 1ul : 0ul; }, 1, "abcd"},
        {"CopyFrom(empty)",
         [](TQZMemory& m) {
             const TQZMemory empty;
             return m.CopyFrom(&empty) ? 1ul : 0ul;
         },
         1, ""},
        {"Clear()", [](TQZMemory& m) { return m.Clear(), m.Size(); }, 4, std::string(4, '\0')},
        {"Free() twice, then Clear and Erase",
         [](TQZMemory& m) { return m.Free(), m.Free(), m.Clear(), m.Erase(1, 5), m.Size(); }, 0,
         ""},
    };
    for (const MemoryRow& row : rows) {
        TQZMemory memory;
        memory.Append(reinterpret_cast<const unsigned char*>("abcd"), 4, 0);
        EXPECT_EQ(row.result, row.run(memory)) << row.call;
        EXPECT_EQ(row.after, Text(memory.Bytes(), memory.Size())) << row.call;
        EXPECT_EQ(memory.Size() == 0, memory.Bytes() == nullptr) << row.call;
    }
}

// ---- TQZBuffer --------------------------------------------------------------------------------

struct BufferRow {
    const char* call;
    std::function<void(TQZBuffer&)> run;
    std::string after;
};

TEST(HostileArguments, Buffer) {
    const char* p = "xyz";
    const BufferRow rows[] = {
        {"TQZBuffer(null, 5)", [](TQZBuffer& b) { b = TQZBuffer(nullptr, 5); }, ""},
        {"TQZBuffer(p, 0)", [p](TQZBuffer& b) { b = TQZBuffer(p, 0); }, ""},
        {"append(null, 3)", [](TQZBuffer& b) { b.append(nullptr, 3); }, "abcd"},
        {"append(p, 0)", [p](TQZBuffer& b) { b.append(p, 0); }, "abcd"},
        {"append(p, 2^31)", [p](TQZBuffer& b) { b.append(p, kHalf); }, "abcd"},
        {"append(p, 2^32-1)", [p](TQZBuffer& b) { b.append(p, kTop); }, "abcd"},
        {"append(own bytes, 4)", [](TQZBuffer& b) { b.append(b.bytes(), 4); }, "abcdabcd"},
        {"append(own bytes + 3, 1)", [](TQZBuffer& b) { b.append(b.bytes() + 3, 1); }, "abcdd"},
        {"erase(-1)", [](TQZBuffer& b) { b.erase(-1); }, "abcd"},
        {"erase(INT_MIN)", [](TQZBuffer& b) { b.erase(INT_MIN); }, "abcd"},
        {"erase(0)", [](TQZBuffer& b) { b.erase(0); }, "abcd"},
        {"erase(3)", [](TQZBuffer& b) { b.erase(3); }, "d"},
        {"erase(4)", [](TQZBuffer& b) { b.erase(4); }, ""},
        {"erase(INT_MAX)", [](TQZBuffer& b) { b.erase(INT_MAX); }, ""},
        {"clear() twice, erase(1)", [](TQZBuffer& b) { b.clear(), b.clear(), b.erase(1); }, ""},
        {"assigned to itself",
         [](TQZBuffer& b) {
             TQZBuffer& same = b;
             b = same;
         },
         "abcd"},
    };
    for (const BufferRow& row : rows) {
        TQZBuffer buffer("abcd", 4);
        row.run(buffer);
        const std::string got = buffer.empty() ? "" : std::string(buffer.bytes(), buffer.size());
        EXPECT_EQ(row.after, got) << row.call;
        EXPECT_EQ(static_cast<int>(row.after.size()), buffer.size()) << row.call;
        EXPECT_EQ(buffer.empty(), buffer.bytes() == nullptr) << row.call;
    }
}

// ---- TQZPacket, TQZFrame ----------------------------------------------------------------------

struct RecordRow {
    const char* call;
    std::function<bool(TQZPacket&, TQZFrame&)> run;
    bool result;
    std::string bytes;  // of the packet and of the frame after the call
    std::string name;   // of both after the call
};

TEST(HostileArguments, PacketAndFrame) {
    TQZVideoDevice longNamed;
    longNamed.Name = kLong;
    const RecordRow rows[] = {
        {"CopyFrom((TQZPacket*)null), CloneFrom(null): bytes dropped, description kept",
         [](TQZPacket& p, TQZFrame& f) {
             return p.CopyFrom(static_cast<const TQZPacket*>(nullptr)) || f.CloneFrom(nullptr);
         },
         false, "", "cam"},
        {"CopyFrom((TQZDevice*)null), CopyFrom((TQZFrame*)null): no change",
         [](TQZPacket& p, TQZFrame& f) {
             return p.CopyFrom(static_cast<const TQZDevice*>(nullptr)) ||
                    f.CopyFrom(static_cast<const TQZFrame*>(nullptr));
         },
         false, "abcd", "cam"},
        {"TQZMemory::CopyFrom(null) on a packet",
         [](TQZPacket& p, TQZFrame& f) {
             f.clear();
             return p.CopyFrom(static_cast<const TQZMemory*>(nullptr));
         },
         false, "", "cam"},
        {"CopyFrom and CloneFrom of themselves",
         [](TQZPacket& p, TQZFrame& f) {
             return p.CopyFrom(&p) && p.CopyFrom(static_cast<const TQZDevice*>(&p)) &&
                    f.CloneFrom(&f) && f.CopyFrom(&f);
         },
         true, "abcd", "cam"},
        {"assigned to themselves",
         [](TQZPacket& p, TQZFrame& f) {
             TQZPacket& samePacket = p;
             TQZFrame& sameFrame = f;
             p = samePacket;
             p = std::move(samePacket);
             f = sameFrame;
             return true;
         },
         true, "abcd", "cam"},
        {"description with a 5,000-byte name",
         [&longNamed](TQZPacket& p, TQZFrame& f) {
             TQZFrame source;
             source.Name = kLong;
             return p.CopyFrom(static_cast<const TQZDevice*>(&longNamed)) && f.CopyFrom(&source);
         },
         true, "abcd", kLong},
    };
    for (const RecordRow& row : rows) {
        TQZPacket packet;
        packet.Append(reinterpret_cast<const unsigned char*>("abcd"), 4, 0);
        packet.Name = "cam";
        TQZFrame frame("abcd", 4, DataTypeRGB24, DeviceTypeVideo);
        frame.Name = "cam";
        EXPECT_EQ(row.result, row.run(packet, frame)) << row.call;
        EXPECT_EQ(row.bytes, Text(packet.Bytes(), packet.Size())) << row.call;
        EXPECT_EQ(row.bytes, frame.empty() ? "" : std::string(frame.bytes(), frame.size()))
            << row.call;
        EXPECT_EQ(row.name, packet.Name) << row.call;
        EXPECT_EQ(row.name, frame.Name) << row.call;
    }
    const TQZFrame noData(nullptr, kTop, DataTypeI420, DeviceTypeVideo);
    EXPECT_TRUE(noData.empty());
    const TQZFrame noLength("abcd", 0);
    EXPECT_TRUE(noLength.empty());
}

// ---- TQZPacketSet, TQZFrameSet ----------------------------------------------------------------

// Each row builds a queue with `maxCount` and answers what it observed, as text.
struct QueueRow {
    const char* call;
    unsigned long maxCount;
    std::function<std::string(TQZPacketSet&, TQZFrameSet&)> run;
    std::string observed;
};

// "pushed/count/max" after one Push of `item`.
template <class Queue, class Item>
std::string PushOnce(Queue& queue, const Item* item) {
    const unsigned long pushed = queue.Push(item);
    return std::to_string(pushed) + "/" + std::to_string(queue.Count()) + "/" +
           std::to_string(queue.GetTheMaxCount());
}

TEST(HostileArguments, PacketAndFrameQueues) {
    TQZPacket packet;
    packet.Append(kByte, 1, 0);
    const TQZFrame frame("x", 1);
    const QueueRow rows[] = {
        {"maxCount 0 refuses every push", 0,
         [&](TQZPacketSet& p, TQZFrameSet& f) {
             return PushOnce(p, &packet) + " " + PushOnce(f, &frame);
         },
         "0/0/0 0/0/0"},
        {"maxCount ULONG_MAX is capped to 2^32-1", kLongTop,
         [&](TQZPacketSet& p, TQZFrameSet& f) {
             return PushOnce(p, &packet) + " " + PushOnce(f, &frame);
         },
         "1/1/4294967295 1/1/4294967295"},
        {"Push(null)", 2,
         [](TQZPacketSet& p, TQZFrameSet& f) {
             return PushOnce<TQZPacketSet, TQZPacket>(p, nullptr) + " " +
                    PushOnce<TQZFrameSet, TQZFrame>(f, nullptr);
         },
         "0/0/2 0/0/2"},
        {"Get and Query on an empty queue, twice: the same empty slots", 2,
         [](TQZPacketSet& p, TQZFrameSet& f) {
             TQZPacket* got = p.Get();
             TQZPacket* queried = p.Query();
             const bool same = got == p.Get() && queried == p.Query() && got != queried &&
                               f.Get() == f.Get() && f.Query() == f.Query();
             return std::to_string(same) + std::to_string(got->Size() + queried->Size()) +
                    std::to_string(f.Get()->size() + f.Query()->size());
         },
         "100"},
        {"SetTheMaxCount(0) and (ULONG_MAX) with one stored", 2,
         [&](TQZPacketSet& p, TQZFrameSet& f) {
             p.Push(&packet);
             f.Push(&frame);
             p.SetTheMaxCount(0);
             f.SetTheMaxCount(0);
             std::string seen = PushOnce(p, &packet) + " " + PushOnce(f, &frame);
             p.SetTheMaxCount(kLongTop);
             f.SetTheMaxCount(kLongTop);
             return seen + " " + std::to_string(p.GetTheMaxCount()) + "," +
                    std::to_string(f.GetTheMaxCount());
         },
         "1/1/0 1/1/0 4294967295,4294967295"},
        {"Free twice, then Get keeps its last packet", 2,
         [&](TQZPacketSet& p, TQZFrameSet& f) {
             p.Push(&packet);
             p.Push(&packet);
             TQZPacket* last = p.Get();
             p.Free();
             p.Free();
             f.Free();
             f.Free();
             return std::to_string(p.Count()) + std::to_string(p.Get() == last) +
                    std::to_string(p.Get()->Size());
         },
         "011"},
    };
    for (const QueueRow& row : rows) {
        TQZPacketSet packets(row.maxCount);
        TQZFrameSet frames(row.maxCount);
        EXPECT_EQ(row.observed, row.run(packets, frames)) << row.call;
    }
}

// ---- TQZColorSpaceConvert ---------------------------------------------------------------------

struct ConvertRow {
    const char* call;
    unsigned int width;
    unsigned int height;
    unsigned int outLen;  // the capacity the caller states (the buffer holds 64 bytes)
    bool nullRgb, nullOut, nullLen;
    bool result;
    unsigned int outLenAfter;
    int bytesCleared;  // bytes of the 64 that end up zero (untouched ones stay 0xAA)
};

TEST(HostileArguments, ColorSpaceConvert) {
    const ConvertRow rows[] = {
        {"null rgb", 4, 4, 64, true, false, false, false, 64, 0},
        {"null out", 4, 4, 64, false, true, false, false, 64, 0},
        {"null outLen", 4, 4, 64, false, false, true, false, 0, 0},
        {"width 0: the stated range cleared", 0, 4, 64, false, false, false, true, 0, 64},
        {"height 0", 4, 0, 64, false, false, false, true, 0, 64},
        {"odd width 3", 3, 4, 64, false, false, false, false, 0, 64},
        {"odd height 3", 4, 3, 64, false, false, false, false, 0, 64},
        {"width 2^32-1", kTop, 2, 64, false, false, false, false, 0, 64},
        {"65536 x 65536: the 32-bit pixel count wraps to 0", 65536, 65536, 64, false, false, false,
         false, 0, 64},
        {"2^31 x 2: the output length passes 2^32", kHalf, 2, 64, false, false, false, false, 0,
         64},
        {"16384 x 16384 into 64 bytes", 16384, 16384, 64, false, false, false, false, 402653184, 0},
        {"4 x 4 with one byte too few", 4, 4, 23, false, false, false, false, 24, 0},
        {"4 x 4 with a larger range: the rest cleared", 4, 4, 64, false, false, false, true, 24,
         40},
        {"outLen 0 for 2 x 2", 2, 2, 0, false, false, false, false, 6, 0},
    };
    std::vector<unsigned char> rgb(4 * 4 * 3, 0xFF);  // white: no converted byte is 0
    for (const ConvertRow& row : rows) {
        std::vector<unsigned char> out(64, 0xAA);
        unsigned int outLen = row.outLen;
        const bool result = TQZColorSpaceConvert::RGB24_TO_YUV_I420(
            row.nullRgb ? nullptr : rgb.data(), row.width, row.height,
            row.nullOut ? nullptr : out.data(), row.nullLen ? nullptr : &outLen);
        EXPECT_EQ(row.result, result) << row.call;
        if (!row.nullLen) {
            EXPECT_EQ(row.outLenAfter, outLen) << row.call;
        }
        int cleared = 0;
        for (unsigned char byte : out) cleared += byte == 0;
        EXPECT_EQ(row.bytesCleared, cleared) << row.call;
        if (!row.result) {
            int touched = 0;
            for (unsigned char byte : out) touched += byte != 0 && byte != 0xAA;
            EXPECT_EQ(0, touched) << row.call << ": a refused call wrote pixels";
        }
    }
}

// ---- Devices before Open ----------------------------------------------------------------------

// What a device answers to Close, Close, Pause, Get and Query before any Open, after every hook
// has been called with hostile arguments.
std::string BeforeOpen(TQZDevice& device) {
    device.OnError(kTop);
    device.OnOpenBefore(nullptr);
    device.OnOpenAFter();
    device.OnCloseBefore();
    device.OnCloseAFter();
    const auto packet = [](TQZPacket* p) {
        return p == nullptr ? std::string("null") : p->Size() == 0 ? "empty" : "data";
    };
    std::string seen = std::to_string(device.Close()) + std::to_string(device.Close()) +
                       std::to_string(device.Pause()) + " " + packet(device.Get()) + " " +
                       packet(device.Query());
    seen += " " + packet(device.Get());  // a second Get on the empty queue
    return seen;
}

struct DeviceRow {
    const char* device;
    std::function<std::unique_ptr<TQZDevice>()> make;
    std::string observed;
};

template <class T>
std::function<std::unique_ptr<TQZDevice>()> Make() {
    return [] { return std::unique_ptr<TQZDevice>(new T()); };
}

TEST(HostileArguments, DevicesBeforeOpen) {
    const DeviceRow rows[] = {
        {"TQZDevice", Make<TQZDevice>(), "000 null null null"},
        {"TQZVideoDevice", Make<TQZVideoDevice>(), "000 null null null"},
        {"TQZAudioDevice", Make<TQZAudioDevice>(), "000 null null null"},
        {"TQZUSBVideoDevice", Make<TQZUSBVideoDevice>(), "111 null null null"},
        {"TQZUSBAudioDevice", Make<TQZUSBAudioDevice>(), "111 empty null empty"},
        {"TQZCameraDevice", Make<TQZCameraDevice>(), "111 empty empty empty"},
        {"TQZVoiceDevice", Make<TQZVoiceDevice>(), "111 empty empty empty"},
        {"TQZDesktopDevice", Make<TQZDesktopDevice>(), "111 empty empty empty"},
        {"TQZWindowDevice", Make<TQZWindowDevice>(), "111 empty empty empty"},
    };
    for (const DeviceRow& row : rows) {
        std::unique_ptr<TQZDevice> device = row.make();
        EXPECT_EQ(row.observed, BeforeOpen(*device)) << row.device;
    }
    // A null name and a null source give the defaults.
    const TQZDesktopDevice unnamed(static_cast<char*>(nullptr));
    const TQZDesktopDevice fromNull(static_cast<const TQZDesktopDevice*>(nullptr));
    const TQZWindowDevice windowFromNull(static_cast<const TQZWindowDevice*>(nullptr));
    const TQZUSBVideoDevice videoFromNull(static_cast<const TQZVideoDevice*>(nullptr));
    const TQZUSBAudioDevice audioFromNull(static_cast<const TQZAudioDevice*>(nullptr));
    EXPECT_EQ("", unnamed.Name + fromNull.Name + windowFromNull.Name + videoFromNull.Name +
                      audioFromNull.Name);
    EXPECT_EQ(nullptr, windowFromNull.WindowHandle);
    std::string title = kLong;
    const TQZDesktopDevice named(&title[0]);
    EXPECT_EQ(kLong, named.Name);
    EXPECT_EQ(kLong, named.Caption);
}

// ---- Screen devices: hostile capture fields and call orders -----------------------------------

using Clock = std::chrono::steady_clock;

double SecondsSince(Clock::time_point start) {
    return std::chrono::duration<double>(Clock::now() - start).count();
}

// Waits up to `seconds` for a packet on the device's queue; its size, or -1 when none came.
long FirstFrameSize(TQZDevice& device, TQZPacketSet& packets, double seconds) {
    const Clock::time_point start = Clock::now();
    while (packets.Count() == 0 && SecondsSince(start) < seconds)
        std::this_thread::sleep_for(std::chrono::milliseconds(5));
    if (packets.Count() == 0) return -1;
    return static_cast<long>(device.Query()->Size());
}

struct FieldsRow {
    unsigned int width, height, frameRate;
    long frameBytes;  // -1: no frame at all
};

TEST(HostileArguments, DesktopDeviceCaptureFields) {
    const FieldsRow rows[] = {
        {0, 0, 20, -1},           {kTop, 480, 20, -1},  // -1 as a signed width
        {640, kTop, 20, -1},      {kHalf, 1, 20, -1},   // the most negative signed width
        {65536, 65536, 20, -1},                         // the 32-bit pixel count wraps to 0
        {0x55555556u, 1, 20, -1},                       // width x 3 wraps to 2 in 32 bits
        {46341, 46341, 20, -1},                         // width x height x 3 passes 2^32
        {641, 3, 0, 641 * 3 * 3},                       // odd width, frame rate 0
        {3, 1, kTop, 9},                                // no pause between frames at all
        {1, 1, kHalf, 3},
    };
    for (const FieldsRow& row : rows) {
        const std::string call = std::to_string(row.width) + " x " + std::to_string(row.height) +
                                 " at " + std::to_string(row.frameRate);
        TQZDesktopDevice device;
        device.Width = row.width;
        device.Height = row.height;
        device.FrameRate = row.frameRate;
        ASSERT_TRUE(device.Open()) << call;
        EXPECT_EQ(row.frameBytes,
                  FirstFrameSize(device, device.Packets, row.frameBytes < 0 ? 0.3 : 5))
            << call;
        const Clock::time_point start = Clock::now();
        EXPECT_TRUE(device.Close()) << call;
        EXPECT_LT(SecondsSince(start), 5.0) << call << ": Close took too long";
    }
}

// Calls in the wrong order: each letter is a call (O Open, C Close, P Pause, G Get, Q Query), each
// result a digit (Get and Query: 1 for a non-null packet).
std::string RunSequence(TQZDevice& device, const std::string& calls) {
    std::string results;
    for (char call : calls) {
        bool result = false;
        switch (call) {
            case 'O':
                result = device.Open();
                break;
            case 'C':
                result = device.Close();
                break;
            case 'P':
                result = device.Pause();
                break;
            case 'G':
                result = device.Get() != nullptr;
                break;
            case 'Q':
                result = device.Query() != nullptr;
                break;
        }
        results += result ? '1' : '0';
    }
    return results;
}

TEST(HostileArguments, ScreenDevicesInTheWrongOrder) {
    const struct {
        const char* calls;
        const char* results;
    } rows[] = {
        {"PPOC", "1111"},  // pausing a device that never ran changes nothing
        {"OOCC", "1011"},  // a second Open is refused, a second Close does nothing
        {"OPC", "111"},    // Close of a paused device
        {"OPPGQC", "111111"}, {"OPOC", "1101"},  // Open while paused is refused
        {"OCOC", "1111"},                        // reopened after Close
        {"GQCGQ", "11111"},   {"OP", "11"},      // destroyed while paused
        {"OPP", "111"},                          // destroyed while running again
    };
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
using DesktopProbe = CaptureProbe<TQZDesktopDevice>;
using WindowProbe = CaptureProbe<TQZWindowDevice>;

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
        {"inverted", false, {10, 10, 5, 5}, -1, 0},
        {"INT_MIN to INT_MAX wide", false, {INT_MIN, 0, INT_MAX, 4}, -1, 1},
        {"INT_MAX to INT_MIN", false, {INT_MAX, INT_MAX, INT_MIN, INT_MIN}, -1, 0},
        {"4 x 4 at the origin", false, {0, 0, 4, 4}, 48, 1},
        {"4 x 4 at INT_MIN", false, {INT_MIN, INT_MIN, INT_MIN + 4, INT_MIN + 4}, 0, 0},
        {"4 x 4 at INT_MAX - 4", false, {INT_MAX - 4, INT_MAX - 4, INT_MAX, INT_MAX}, 0, 0},
    };
    for (const auto& row : rows) {
        DesktopProbe desktop;
        WindowProbe window;
        RECT area = row.area;
        desktop.CaptureDesktopTransalteRGB24(row.null ? nullptr : &area);
        window.CaptureDesktopTransalteRGB24(row.null ? nullptr : &area);
        if (row.desktopBytes > 0) {
            EXPECT_EQ(std::vector<long>{row.desktopBytes}, desktop.frames) << row.call;
        } else if (row.desktopBytes < 0) {
            EXPECT_TRUE(desktop.frames.empty()) << row.call;
        } else {
            EXPECT_LE(desktop.frames.size(), 1u) << row.call;
            for (long bytes : desktop.frames) EXPECT_EQ(48, bytes) << row.call;
        }
        EXPECT_EQ(row.windowFrames, window.frames.size()) << row.call;
    }
    // Window captures of windows that do not exist.
    WindowProbe window;
    window.CaptureWindowTransalteRGB24(nullptr, true);
    window.CaptureWindowTransalteRGB24(reinterpret_cast<HWND>(static_cast<uintptr_t>(0x7ffe1234)),
                                       false);
    DesktopProbe desktop;
    desktop.CaptureWindowTransalteRGB24(reinterpret_cast<HWND>(static_cast<uintptr_t>(0x7ffe1234)),
                                        true);
    EXPECT_TRUE(window.frames.empty());
    EXPECT_TRUE(desktop.frames.empty());
}

// ---- Media-graph devices: their protected graph operations without a graph ----------------

template <class Device>
class PullProbe : public Device {
public:
    using Device::BindFilter;
    using Device::SetCrossBar;
};

TEST(HostileArguments, GraphOperationsWithoutAGraph) {
    const TQZDataType noType = static_cast<TQZDataType>(-1);
    VideoGraphProbe video;
    AudioGraphProbe audio;
    PullProbe<TQZCameraDevice> camera;
    PullProbe<TQZVoiceDevice> voice;
    IBaseFilter* filter = nullptr;
    IPin* pin = nullptr;
    const struct {
        const char* call;
        std::function<long()> run;
        long result;
    } rows[] = {
        {"SetVideoCapFormat(640, 480, 20, RGB24)",
         [&] { return video.SetVideoCapFormat(640, 480, 20, DataTypeRGB24); }, E_FAIL},
        {"SetVideoCapFormat(2^32-1, 2^32-1, 0, RGB24)",
         [&] { return video.SetVideoCapFormat(kTop, kTop, 0, DataTypeRGB24); }, E_INVALIDARG},
        {"SetVideoCapFormat(.., type -1)",
         [&] { return video.SetVideoCapFormat(640, 480, 20, noType); }, E_FAIL},
        {"UpdateVideoCapOpt(2^31, 1, 2^32-1, I420)",
         [&] { return video.UpdateVideoCapOpt(kHalf, 1, kTop, DataTypeI420, false); },
         E_INVALIDARG},
        {"UpdateVideoCapOpt(.., frame rate 0, type -1, largest size)",
         [&] { return video.UpdateVideoCapOpt(640, 480, 0, noType, true); }, E_FAIL},
        {"ConnectFilters(null, null)", [&] { return video.ConnectFilters(nullptr, nullptr); },
         E_FAIL},
        {"ConnectFilters(null graph, null, null)",
         [&] { return video.ConnectFilters(nullptr, TQZComPointer<IBaseFilter>(), nullptr); },
         E_INVALIDARG},
        {"GetPin(null, output, &pin)", [&] { return video.GetPin(nullptr, PINDIR_OUTPUT, &pin); },
         E_POINTER},
        {"GetPin(null, input, null)", [&] { return video.GetPin(nullptr, PINDIR_INPUT, nullptr); },
         E_POINTER},
        {"USB video BindFilter(-1)", [&] { return long{video.BindFilter(-1, &filter)}; }, 0},
        {"USB audio BindFilter(INT_MIN)", [&] { return long{audio.BindFilter(INT_MIN, &filter)}; },
         0},
        {"camera BindFilter(-1)", [&] { return long{camera.BindFilter(-1, &filter)}; }, 0},
        {"voice BindFilter(INT_MIN)", [&] { return long{voice.BindFilter(INT_MIN, &filter)}; }, 0},
        {"SetAudioCapFormat(2^32-1 each)",
         [&] { return audio.SetAudioCapFormat(kTop, kTop, kTop, kTop); }, 1},
        {"SetAudioCapFormat(0 each)", [&] { return audio.SetAudioCapFormat(0, 0, 0, 0); }, 1},
        {"EnumPinsOnFilter(null)",
         [&] { return static_cast<long>(audio.EnumPinsOnFilter(nullptr, PINDIR_INPUT)); }, 0},
        {"SetCrossBar() without a graph",
         [&] { return camera.SetCrossBar(), voice.SetCrossBar(), 0L; }, 0},
        {"FreeMediaType(empty), DeleteMediaType(null)",
         [&] {
             AM_MEDIA_TYPE empty = {};
             video.FreeMediaType(empty);
             video.DeleteMediaType(nullptr);
             return 0L;
         },
         0},
    };
    for (const auto& row : rows) EXPECT_EQ(row.result, row.run()) << row.call;
    EXPECT_EQ(nullptr, filter);
    EXPECT_EQ(nullptr, pin);
    EXPECT_EQ(Join({640, 480, 20}), Join({video.Width, video.Height, video.FrameRate}));
    EXPECT_EQ(Join({44100, 16, 2}), Join({audio.SampleRate, audio.BitsPerSample, audio.Channels}));
    // The three values are stored before they are checked.
    EXPECT_EQ(E_INVALIDARG, audio.UpdateAudioCapOpt(kTop, kTop, kTop, kTop));
    EXPECT_EQ(Join({kTop, kTop, kTop}),
              Join({audio.SampleRate, audio.BitsPerSample, audio.Channels}));
}

// ---- The six device sets ----------------------------------------------------------------------

// The element type of a device set.
template <class Set>
struct Element;
template <class T>
struct Element<TQZDeviceSet<T>> {
    using Type = T;
};

template <class Set>
class HostileSet : public ::testing::Test {};
using AllSets = ::testing::Types<TQZDesktopDeviceSet, TQZWindowDeviceSet, TQZUSBVideoDeviceSet,
                                 TQZUSBAudioDeviceSet, TQZCameraDeviceSet, TQZVoiceDeviceSet>;
TYPED_TEST_SUITE(HostileSet, AllSets);

TYPED_TEST(HostileSet, LookupsWithHostileArguments) {
    using Device = typename Element<TypeParam>::Type;
    TypeParam set;
    EXPECT_EQ(0u, set.Push(nullptr));
    EXPECT_EQ(nullptr, set.GetByIndex(0));
    EXPECT_EQ(nullptr, set.GetByName("A"));
    {
        Device a, b, c;
        a.Name = "A";
        a.Index = 0;
        b.Name = kLong;
        b.Index = 1;
        c.Name = "";
        c.Index = kTop;
        EXPECT_EQ(3u, (set.Push(&a), set.Push(&b), set.Push(&c)));
    }  // the pushed devices are gone; the set holds copies
    EXPECT_EQ(3u, set.Push(nullptr));
    const struct {
        const char* call;
        Device* found;
        const char* expected;  // Name of the device found, or null for none
    } rows[] = {
        {"GetByIndex(0)", set.GetByIndex(0), "A"},
        {"GetByIndex(1)", set.GetByIndex(1), "long"},
        {"GetByIndex(3)", set.GetByIndex(3), nullptr},
        {"GetByIndex(2^31)", set.GetByIndex(kHalf), nullptr},
        {"GetByIndex(2^32-1): beyond the count though a device carries it", set.GetByIndex(kTop),
         nullptr},
        {"GetByName(\"\")", set.GetByName(""), nullptr},
        {"GetByCaption(\"\")", set.GetByCaption(""), nullptr},
        {"GetByName(5,000 bytes)", set.GetByName(kLong), "long"},
        {"GetByCaption(5,000 bytes)", set.GetByCaption(kLong), "long"},
        {"GetByName(5,001 bytes)", set.GetByName(kLong + "T"), nullptr},
        {"GetByName(4,999 bytes)", set.GetByName(kLong.substr(1)), nullptr},
        {"GetByName(\"A\\0B\")", set.GetByName(std::string("A\0B", 3)), nullptr},
        {"GetByName(\"a\")", set.GetByName("a"), nullptr},
    };
    for (const auto& row : rows) {
        if (row.expected == nullptr) {
            EXPECT_EQ(nullptr, row.found) << row.call;
        } else {
            ASSERT_NE(nullptr, row.found) << row.call;
            EXPECT_EQ(std::string(row.expected) == "long" ? kLong : row.expected, row.found->Name)
                << row.call;
        }
    }
    TypeParam copy(set);  // deep: each set owns its own devices
    set.Free();
    set.Free();
    EXPECT_EQ(0u, set.Count());
    EXPECT_EQ(nullptr, set.GetByIndex(0));
    EXPECT_EQ(nullptr, set.GetByName(kLong));
    ASSERT_EQ(3u, copy.Count());
    EXPECT_EQ(kLong, copy.GetByName(kLong)->Name);
}

// ---- The enumerator ---------------------------------------------------------------------------

TEST(HostileArguments, EnumeratorsReplaceHostileContent) {
    TQZEnumDevice all;
    const auto spoil = [](auto& set) {
        typename Element<std::decay_t<decltype(set)>>::Type hostile;
        hostile.Name = kLong;
        hostile.Index = kTop;
        set.Push(&hostile);
        set.Push(&hostile);
    };
    spoil(all.VideoDevices);
    spoil(all.AudioDevices);
    spoil(all.CameraDevices);
    spoil(all.VoiceDevices);
    spoil(all.DesktopDevices);
    spoil(all.AllWindows);
    spoil(all.LocalProcessWindows);
    TQZEnumDevice::EnumVideoDevice(all.VideoDevices);
    TQZEnumDevice::EnumAudioDevice(all.AudioDevices);
    TQZEnumDevice::EnumCameraDevice(all.CameraDevices);
    TQZEnumDevice::EnumVoiceDevice(all.VoiceDevices);
    TQZEnumDevice::EnumDesktopDevice(all.DesktopDevices);
    TQZEnumDevice::EnumAllWindowsDevice(all.AllWindows);
    TQZEnumDevice::EnumLocalProcessWindowsDevice(all.LocalProcessWindows);
    EXPECT_EQ(nullptr, all.VideoDevices.GetByName(kLong));
    EXPECT_EQ(nullptr, all.AudioDevices.GetByName(kLong));
    EXPECT_EQ(nullptr, all.CameraDevices.GetByName(kLong));
    EXPECT_EQ(nullptr, all.VoiceDevices.GetByName(kLong));
    ASSERT_EQ(1u, all.DesktopDevices.Count());
    EXPECT_EQ("Desktop", all.DesktopDevices.GetByIndex(0)->Name);
    for (TQZWindowDeviceSet* windows : {&all.AllWindows, &all.LocalProcessWindows}) {
        unsigned int index = 0;
        for (TQZWindowDevice* window : *windows->GetList()) {
            EXPECT_LE(window->Name.size(), 1023u);
            EXPECT_EQ(index++, window->Index);
        }
    }
    // Refilling a set whose device is capturing deletes the device, which stops first.
    TQZDesktopDevice* running = all.DesktopDevices.GetByIndex(0);
    running->Width = 32;
    running->Height = 32;
    ASSERT_TRUE(running->Open());
    running->Pause();
    const auto start = std::chrono::steady_clock::now();
    TQZEnumDevice::EnumDesktopDevice(all.DesktopDevices);
    EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(5));
    EXPECT_EQ(1u, all.DesktopDevices.Count());
    TQZEnumDevice copy(all);  // deep copies: both destroy their own devices
    EXPECT_EQ(all.AllWindows.Count(), copy.AllWindows.Count());
}

// ---- Callbacks --------------------------------------------------------------------------------

struct Frames : ICaptureVideoCallBack, ICaptureAudioCallBack {
    int video = 0;
    int audio = 0;
    void OnVideoStart() override {}
    void OnVideoStop() override {}
    void OnVideoPause(bool) override {}
    void OnVideoError(unsigned int) override {}
    void OnVideoFrame(double, unsigned char*, long) override { ++video; }
    void OnAudioStart() override {}
    void OnAudioStop() override {}
    void OnAudioError(unsigned int) override {}
    void OnAudioFrame(double, unsigned char*, long) override { ++audio; }
};

TEST(HostileArguments, SampleCallbacks) {
    BYTE data[4] = {1, 2, 3, 4};
    const double nan = std::numeric_limits<double>::quiet_NaN();
    const struct {
        const char* call;
        double time;
        BYTE* data;
        LONG length;
        HRESULT result;
        int delivered;
    } rows[] = {
        {"BufferCB(0, null, 4)", 0, nullptr, 4, E_POINTER, 0},
        {"BufferCB(0, p, 0)", 0, data, 0, E_POINTER, 0},
        {"BufferCB(0, p, -1)", 0, data, -1, E_POINTER, 0},
        {"BufferCB(0, p, INT_MIN)", 0, data, LONG{INT_MIN}, E_POINTER, 0},
        {"BufferCB(NaN, p, 4)", nan, data, 4, S_OK, 1},
        {"BufferCB(-inf, p, 1)", -std::numeric_limits<double>::infinity(), data, 1, S_OK, 1},
    };
    for (const auto& row : rows) {
        Frames host;
        TQZUSBVideoDevice video;
        TQZUSBAudioDevice audio;
        video.OnOpenBefore(static_cast<ICaptureVideoCallBack*>(&host));
        audio.OnOpenBefore(static_cast<ICaptureAudioCallBack*>(&host));
        EXPECT_EQ(row.result, video.BufferCB(row.time, row.data, row.length)) << row.call;
        EXPECT_EQ(row.result, audio.BufferCB(row.time, row.data, row.length)) << row.call;
        EXPECT_EQ(row.delivered, host.video) << row.call;
        EXPECT_EQ(row.delivered, host.audio) << row.call;
    }
    // Without a callback, or after the clearing hook, a good sample goes nowhere.
    Frames host;
    TQZUSBVideoDevice video;
    TQZUSBAudioDevice audio;
    video.OnOpenBefore(nullptr);
    audio.OnOpenBefore(nullptr);
    EXPECT_EQ(S_OK, video.BufferCB(0, data, 4));
    EXPECT_EQ(S_OK, audio.BufferCB(0, data, 4));
    video.OnOpenBefore(static_cast<ICaptureVideoCallBack*>(&host));
    audio.OnOpenBefore(static_cast<ICaptureAudioCallBack*>(&host));
    video.OnCloseAFter();
    audio.OnCloseBefore();
    EXPECT_EQ(S_OK, video.BufferCB(0, data, 4));
    EXPECT_EQ(S_OK, audio.BufferCB(0, data, 4));
    EXPECT_EQ(0, host.video + host.audio);

    TQZSampleGrabberCB grabber;
    EXPECT_EQ(E_POINTER, grabber.QueryInterface(IID_IUnknown, nullptr));
    EXPECT_EQ(E_NOINTERFACE, grabber.QueryInterface(IID_IBaseFilter, nullptr));
    EXPECT_EQ(S_OK, grabber.SampleCB(nan, nullptr));
    EXPECT_EQ(E_POINTER, grabber.BufferCB(0, nullptr, 0));
}

// ---- Locks and threads ------------------------------------------------------------------------

// Whether another thread can take the mutex now (and gives it back).
bool FreeForOthers(TQZMutex& mutex) {
    short taken = 0;
    std::thread other([&] {
        taken = mutex.TryLocked();
        if (taken) mutex.Unlocked();
    });
    other.join();
    return taken == 1;
}

class Idle : public TQZThread {
protected:
    bool Run() override {
        while (!Finished()) USleep(1);
        return true;
    }
};

TEST(HostileArguments, LocksAndThreads) {
    {
        TQZAutoLocker none(nullptr);
        none.Locked();
        none.UnLocked();
        none.UnLocked();
        TQZMutexLocker noMutex(nullptr);
        noMutex.Locked();
        noMutex.Unlock();
        noMutex.Unlock();
    }
    TQZMutex mutex;
    mutex.Unlocked();  // not held: ignored
    mutex.Unlocked();
    EXPECT_TRUE(FreeForOthers(mutex));
    {
        TQZMutexLocker guard(&mutex);
        guard.Unlock();
        guard.Unlock();  // the caller no longer owns it: ignored, as is the destructor's
        EXPECT_TRUE(FreeForOthers(mutex));
    }
    EXPECT_TRUE(FreeForOthers(mutex));

    TQZMReadSWriteLocker record;
    record.DecRead();
    record.UnLocked();
    record.Create();  // already live: only cleared
    record.Destroy();
    record.Destroy();  // no longer live: nothing to delete
    record.AddRead();
    record.DecRead();
    record.Locked();
    record.UnLocked();
    EXPECT_EQ(0, record.GetRead());
    EXPECT_FALSE(record.GetWrite());
    record.Create();  // live again for the destructor

    Idle thread;
    EXPECT_TRUE(thread.Suspend());  // no thread yet: the system refuses, nothing changes
    EXPECT_FALSE(thread.Suspended());
    EXPECT_TRUE(thread.Resume());
    thread.Terminate();
    thread.Waitfor();
    thread.USleep(0);
    EXPECT_TRUE(thread.Stop());
    EXPECT_TRUE(thread.Stop());
    EXPECT_EQ(nullptr, thread.GetThread());
    const std::string name = kLong + std::string("\0tail", 5);
    thread.SetTheadName(name);
    EXPECT_EQ(name, thread.GetThreadName());
    EXPECT_TRUE(thread.Start());
    EXPECT_TRUE(thread.Suspend());
    EXPECT_TRUE(thread.Suspend());
    EXPECT_TRUE(thread.Stop());  // resumes, then waits
    EXPECT_TRUE(thread.Finished());
    EXPECT_FALSE(thread.Suspended());
}

}  // namespace
