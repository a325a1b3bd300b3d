// SPDX-License-Identifier: MIT
// The screen part of the soak: the desktop device and window devices at their highest rate,
// each on a host thread that opens it, toggles Pause, takes frames with Get and Query and
// closes it again, while another thread resizes, moves, retitles, hides and recreates the
// windows under them.
#include <string>

#include "device_hooks.h"
#include "soak.h"
#include "tqzenumdevice.h"
#include "tqzpacket.h"

namespace soak {
namespace {

using TQZCapture::TQZEnumDevice;
using TQZCapture::TQZPacket;

// Above 1000 frames a second the workers do not pause between frames.
const unsigned int kHighestRate = 1000000;
// Window sizes the mutator uses (outer size).
const int kMaxWindowWidth = 640, kMaxWindowHeight = 480;

unsigned Between(Rng& rng, unsigned low, unsigned high) { return low + rng() % (high - low + 1); }

struct CallNames {
    const char* enumerate;
    const char* open;
    const char* pause;
    const char* get;
    const char* query;
    const char* close;
    const char* destroy;
};

// The desktop: the "Desktop" source at a random size (odd and empty sizes included).
struct DesktopKind {
    using Device = TQZCapture::TQZDesktopDevice;
    using Set = TQZCapture::TQZDesktopDeviceSet;
    static constexpr const char* kName = "desktop";
    static constexpr CallNames kCalls = {
        "TQZEnumDevice::EnumDesktopDevice", "TQZDesktopDevice::Open",
        "TQZDesktopDevice::Pause",          "TQZDesktopDevice::Get",
        "TQZDesktopDevice::Query",          "TQZDesktopDevice::Close",
        "TQZDesktopDeviceSet::Free"};

    static Device* Choose(Set& set, Rng& rng) {
        TQZEnumDevice::EnumDesktopDevice(set);
        Device* device = set.GetByName("Desktop");
        if (device == nullptr) return nullptr;
        const bool empty = rng() % 20 == 0;
        device->Width = empty ? 0 : Between(rng, 1, 400);
        device->Height = Between(rng, 1, 300);
        return device;
    }
    static HWND Window(const Device&) { return nullptr; }
    // Width x 3 bytes per row, no padding.
    static bool FrameFits(const Device& device, unsigned long size) {
        return size == static_cast<unsigned long>(device.Width) * device.Height * 3;
    }
};

// A window of this process, whichever the enumeration lists at a random position.
struct WindowKind {
    using Device = TQZCapture::TQZWindowDevice;
    using Set = TQZCapture::TQZWindowDeviceSet;
    static constexpr const char* kName = "window";
    static constexpr CallNames kCalls = {"TQZEnumDevice::EnumLocalProcessWindowsDevice",
                                         "TQZWindowDevice::Open",
                                         "TQZWindowDevice::Pause",
                                         "TQZWindowDevice::Get",
                                         "TQZWindowDevice::Query",
                                         "TQZWindowDevice::Close",
                                         "TQZWindowDeviceSet::Free"};

    static Device* Choose(Set& set, Rng& rng) {
        TQZEnumDevice::EnumLocalProcessWindowsDevice(set);
        const unsigned long count = set.Count();
        return count == 0 ? nullptr : set.GetByIndex(static_cast<unsigned>(rng() % count));
    }
    static HWND Window(const Device& device) { return device.WindowHandle; }
    // Rows of a width rounded down to 4 pixels, a height rounded down to 4 rows, no larger
    // than the largest window the mutator makes.
    static bool FrameFits(const Device&, unsigned long size) {
        return size % 48 == 0 && size <= 3ul * kMaxWindowWidth * kMaxWindowHeight;
    }
};

// Takes one packet with Get or Query and checks it: never null, of a size the device can
// produce, every byte readable.
template <class Kind>
void TakeFrame(Run& run, CallSlot& slot, typename Kind::Device& device, bool newest) {
    const unsigned long waiting = device.Packets.Count();
    TQZPacket* packet =
        newest ? run.calls.Time(slot, Kind::kCalls.get, [&] { return device.Get(); })
               : run.calls.Time(slot, Kind::kCalls.query, [&] { return device.Query(); });
    if (packet == nullptr) {
        run.tally.Fail("packet", std::string(Kind::kName) + " handed out no packet");
        return;
    }
    const unsigned long size = packet->Size();
    if (waiting > 0) run.tally.Add(std::string(Kind::kName) + " frames taken");
    if (size == 0) return;
    const unsigned char* bytes = packet->Bytes();
    if (bytes == nullptr || !Kind::FrameFits(device, size)) {
        run.tally.Fail("frame", std::string(Kind::kName) + " frame of " + std::to_string(size) +
                                    " bytes for " + std::to_string(device.Width) + " x " +
                                    std::to_string(device.Height));
        return;
    }
    // Read both ends, so that a packet shorter than its size shows under the sanitizers.
    volatile unsigned char sink = bytes[0];
    sink = bytes[size - 1];
    (void)sink;
}

void CheckQueue(Run& run, const char* kind, TQZCapture::TQZPacketSet& packets) {
    const unsigned long count = packets.Count(), bound = packets.GetTheMaxCount();
    run.tally.Max("screen queue largest", count);
    if (count > bound) {
        run.tally.Fail("queue", std::string(kind) + " queue holds " + std::to_string(count) +
                                    " packets, bound " + std::to_string(bound));
    }
}

// Open/close cycles of one screen device class: enumerate, open at the highest rate, a session
// of random Get, Query and Pause calls, close, destroy.
template <class Kind>
void ScreenCycles(Run& run, CallSlot& slot, Rng& rng) {
    const std::string name = Kind::kName;
    do {
        typename Kind::Set set;
        typename Kind::Device* device =
            run.calls.Time(slot, Kind::kCalls.enumerate, [&] { return Kind::Choose(set, rng); });
        if (device == nullptr) {
            run.tally.Add(name + " sources missing");
            SleepMs(10);
            continue;
        }
        device->FrameRate = kHighestRate;
        const HWND window = Kind::Window(*device);
        if (window != nullptr) run.captured.Add(window);
        if (!VornHooks::OpenDevice(
                *device, nullptr,
                [&](auto open) { return run.calls.Time(slot, Kind::kCalls.open, open); },
                VornHooks::AfterFailedOpen::Call)) {
            run.tally.Fail("open", name + " device did not open");
        }
        const Clock::time_point sessionEnd =
            Clock::now() + std::chrono::milliseconds(Between(rng, 100, 900));
        bool paused = false;
        while (Clock::now() < sessionEnd && !run.Over()) {
            const unsigned r = rng() % 100;
            if (r == 0) {
                run.calls.Time(slot, Kind::kCalls.pause, [&] { return device->Pause(); });
                paused = !paused;
                run.tally.Add(name + " pauses toggled");
            } else {
                TakeFrame<Kind>(run, slot, *device, r < 50);
            }
            CheckQueue(run, Kind::kName, device->Packets);
            world::PumpMessages();
            if (rng() % 4 != 0) SleepMs(1);
        }
        if (paused) run.tally.Add(name + " closed while paused");
        VornHooks::CloseDevice(
            *device, [&](auto close) { return run.calls.Time(slot, Kind::kCalls.close, close); });
        if (window != nullptr) run.captured.Remove(window);
        CheckQueue(run, Kind::kName, device->Packets);
        run.calls.Time(slot, Kind::kCalls.destroy, [&] {
            set.Free();
            return true;
        });
        run.tally.Add(name + " cycles");
    } while (!run.Over());
}

std::string RandomTitle(Rng& rng) {
    const unsigned r = rng() % 100;
    const unsigned length = r < 70   ? Between(rng, 0, 40)
                            : r < 95 ? Between(rng, 0, 300)
                                     : Between(rng, 1000, 5000);
    std::string title(length, ' ');
    for (char& c : title) c = static_cast<char>(Between(rng, 1, 255));
    return title;
}

HWND NewWindow(Run& run, CallSlot& slot, Rng& rng) {
    const int width = static_cast<int>(Between(rng, 40, kMaxWindowWidth));
    const int height = static_cast<int>(Between(rng, 40, kMaxWindowHeight));
    const int x = static_cast<int>(Between(rng, 0, 1200)),
              y = static_cast<int>(Between(rng, 0, 500));
    const std::string title = RandomTitle(rng);
    return run.calls.Time(slot, "create window",
                          [&] { return world::OpenWindow(title, x, y, width, height); });
}

}  // namespace

void ScreenHost(Run& run, int index) {
    Rng rng(run.options.seed * 7919u + static_cast<unsigned>(index));
    if (index == 0) {
        CallSlot& slot = run.calls.NewSlot("desktop host");
        ScreenCycles<DesktopKind>(run, slot, rng);
    } else {
        CallSlot& slot = run.calls.NewSlot("window host " + std::to_string(index));
        ScreenCycles<WindowKind>(run, slot, rng);
    }
}

void WindowMutator(Run& run) {
    CallSlot& slot = run.calls.NewSlot("window mutator");
    Rng rng(run.options.seed * 104729u + 1u);
    std::vector<HWND> windows;
    for (int i = 0; i < run.options.windows; ++i) windows.push_back(NewWindow(run, slot, rng));
    while (!run.Over()) {
        HWND& window = windows[rng() % windows.size()];
        unsigned r = rng() % 100;
        // Where the system cannot take it, a window under capture keeps its place, size,
        // visibility and life (any such change becomes a retitle), and no device opens on a
        // window while it is being changed so.
        std::unique_lock<std::mutex> frozen;
        if ((r < 40 || r >= 65) && !world::ReshapesCapturedWindows()) {
            frozen = run.captured.Freeze();
            if (run.captured.Holds(window)) r = 40;
        }
        if (r < 40) {
            // Now and then smaller than the window's frame: the client area is then empty.
            const bool tiny = rng() % 10 == 0;
            const int width =
                static_cast<int>(tiny ? Between(rng, 0, 12) : Between(rng, 13, kMaxWindowWidth));
            const int height =
                static_cast<int>(tiny ? Between(rng, 0, 30) : Between(rng, 31, kMaxWindowHeight));
            run.calls.Time(slot, "resize window",
                           [&] { return world::ResizeWindow(window, width, height); });
            run.tally.Add("windows resized");
        } else if (r < 65) {
            const std::string title = RandomTitle(rng);
            run.calls.Time(slot, "retitle window",
                           [&] { return world::RetitleWindow(window, title); });
            run.tally.Add("windows retitled");
        } else if (r < 80) {
            const int x = static_cast<int>(Between(rng, 0, 2200)) - 200;
            const int y = static_cast<int>(Between(rng, 0, 1300)) - 200;
            run.calls.Time(slot, "move window", [&] { return world::MoveWindowTo(window, x, y); });
            run.tally.Add("windows moved");
        } else if (r < 85) {
            const bool visible = rng() % 2 == 0;
            run.calls.Time(slot, "show window", [&] { return world::ShowWindow(window, visible); });
            run.tally.Add("windows hidden or shown");
        } else {
            run.calls.Time(slot, "destroy window", [&] {
                world::CloseWindow(window);
                return true;
            });
            if (frozen.owns_lock()) frozen.unlock();
            window = NewWindow(run, slot, rng);
            run.tally.Add(kWindowsDestroyed);
        }
        if (frozen.owns_lock()) frozen.unlock();
        world::PumpMessages();
        SleepMs(static_cast<int>(Between(rng, 0, 8)));
    }
    for (HWND window : windows) world::CloseWindow(window);
    world::PumpMessages();
}

}  // namespace soak
