// SPDX-License-Identifier: MIT
// The capture sources of a world: one table row per set of TQZEnumDevice, saying what
// kind of source the set holds, how its devices deliver, how to list it and how to open one
// of its devices.
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "frame.h"
#include "stream.h"

namespace TQZCapture {
class TQZEnumDevice;
}

namespace VornCapture {

enum class Delivery { Push, Pull, Queued };
const char* DeliveryName(Delivery delivery);

// What the user asks of a source. The device may deliver something else (a window its client
// size, a camera the nearest size it has); StreamFormat tells what it delivers.
struct CaptureRequest {
    bool sizeGiven = false;
    uint32_t width = 0;
    uint32_t height = 0;
    uint32_t frameRate = 20;
    uint32_t sampleRate = 44100;
    uint32_t bitsPerSample = 16;
    uint32_t channels = 2;
};

struct LendingBuffers;

// One opened capture device, whatever its delivery: the tool takes its units one by one.
class Source {
public:
    virtual ~Source() = default;
    // Sets the device's capture fields from `request` and opens it; false (with the reason)
    // also when the device opened but the format it delivers cannot be known.
    virtual bool Open(const CaptureRequest& request, std::string& error) = 0;
    // What the open device delivers: for a media-graph device the format its graph connected
    // with, read back from the graph.
    virtual StreamFormat Format() const = 0;
    // The device's name (a window's title).
    virtual std::string Name() const = 0;
    // Waits up to `waitMs` milliseconds for the next unit (a video frame or an audio buffer);
    // false when none came. The bytes stay valid until the next Take or Close. `seconds`: when
    // the unit was captured (the device's time stamp, or for pulled units the time of the
    // pull), on a clock of the source's own.
    virtual bool Take(const uint8_t*& data, size_t& size, double& seconds, int waitMs) = 0;
    // Units the device produced that never reached Take.
    virtual uint64_t Lost() const = 0;
    // Audio: the seconds of audio lost just before the unit Take gave last (a gap in the
    // device's stream), as far as the source can tell.
    virtual double GapBeforeLast() { return 0; }
    virtual void Close() = 0;

    // Video: the next unit as a frame as its device made it, 24-bit rows blue first, bottom-up
    // (BGR24). Its sequence counts the device's frames (a lost frame leaves its number out) and
    // its time is the unit's, in ns. The pixels are lent to the frame: they stay as they are
    // while any copy of the frame is held, whatever is taken after it. False when no frame came
    // within `waitMs`, or the unit is no frame of the format's size (passed over, and counted
    // by its number).
    bool TakeFrame(VideoFrame& frame, int waitMs);

protected:
    // Lends the bytes of the unit Take gave last, setting `data` to where they stay valid for
    // as long as the returned keeper lives. The device's memory goes back at the next Take, so
    // by default they are copied, once, into a buffer of the source's, used again once every
    // frame over it is let go; a source whose units are its own hands one over instead.
    virtual Keeper LendLastUnit(const uint8_t*& data, size_t size);

private:
    uint64_t framesTaken_ = 0;
    uint64_t lastSequence_ = 0;
    std::shared_ptr<LendingBuffers> lending_;
};

struct SourceEntry {
    unsigned int index;
    std::string name;
};

// How the user picks a source of a kind: by index, or by name (a window by its title).
struct Selector {
    bool byName = false;
    unsigned int index = 0;
    std::string name;
};
std::string Describe(const Selector& selector);

struct SourceKind {
    const char* kind;     // what the user types: desktop, window, camera, microphone
    Delivery delivery;    // how the devices of this set deliver
    const char* setName;  // the TQZEnumDevice set that lists them
    Medium medium;
    std::vector<SourceEntry> (*list)(TQZCapture::TQZEnumDevice& all);
    // Finds the selected device and makes a source of it; null (with the reason) when there
    // is none. Null for a set that is only listed (its sources are captured through another).
    std::unique_ptr<Source> (*make)(const Selector& selector, std::string& error);
};

const std::vector<SourceKind>& SourceKinds();

// Where the sources' notices go (several sources of the name asked for, the first taken): the
// face shows them its own way. Standard error until one is set; set before capturing.
using NoticeSink = void (*)(const std::string& text);
void SetNoticeSink(NoticeSink sink);

struct ScreenExtent {
    uint32_t width;
    uint32_t height;
};
// The primary screen's size; false when the display cannot tell (a Wayland session's screen
// whose cast did not start: the user dismissed the dialog, or there is no portal).
bool MeasureScreen(ScreenExtent* size);
// The primary screen's size, 640 x 480 where it cannot be told (for offers made before any
// capture, which must name some size).
ScreenExtent ScreenSize();

// The row that captures `kind` through `delivery` ("" for the first one that captures it).
// Null, with the reason, when there is none.
const SourceKind* FindSourceKind(const std::string& kind, const std::string& delivery,
                                 std::string& error);

}  // namespace VornCapture
