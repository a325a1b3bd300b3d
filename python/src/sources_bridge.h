// SPDX-License-Identifier: MIT
// The module's one door to the capture sources: listing them, putting a world in force, opening
// one and taking its units as frames and audio blocks of the capture layer. Nothing else in the
// module knows how sources are found or driven, so a change in that API touches
// sources_bridge.cpp alone.
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "frame.h"

namespace vornpy {

// The kinds of source that can be listed and opened, in listing order.
const std::vector<std::string>& SourceKindNames();

// Puts `world` (auto, host or virtual; "auto" honours VORN_WORLD) in force for the process;
// false with the reason when the name is no world or another world is in force already.
bool UseWorld(const std::string& world, std::string& error);
// "host" or "virtual": the world in force.
std::string WorldName();
// Why a screen cannot be captured in the world in force ("" when it can).
std::string NoDisplay();

struct SourceInfo {
    std::string kind;
    unsigned int index = 0;
    std::string name;
    std::vector<std::string> modes;  // "1920x1080", "YUY2 640x480, 5-30 fps", "44100 Hz, ..."
};

// The sources of `kind` ("" for every kind) in the world in force.
std::vector<SourceInfo> ListSources(const std::string& kind);

struct OpenRequest {
    bool sizeGiven = false;  // a desktop without a size: the whole screen
    std::uint32_t width = 0;
    std::uint32_t height = 0;
    std::uint32_t frameRate = 0;  // 0: the source's default
    std::uint32_t sampleRate = 44100;
    std::uint32_t channels = 2;
    // What the frames become: a camera that hands its own format runs in the mode cheapest to
    // make it from. `native`: the source's own format, lent as it is (refused by a source that
    // has none to lend).
    VornCapture::PixelFormat target = VornCapture::PixelFormat::BGR24;
    bool native = false;
};

enum class Taken {
    Unit,     // a frame or block is ready
    Nothing,  // none came within the wait
    Lost,     // the source is gone (unplugged, closed): no unit will come again
};

// One opened source. Take and Close must not run at the same time (the caller serialises them).
class SourceStream {
public:
    virtual ~SourceStream() = default;
    virtual bool IsVideo() const = 0;
    virtual std::string Name() const = 0;
    virtual std::uint32_t Width() const = 0;
    virtual std::uint32_t Height() const = 0;
    virtual double FrameRate() const = 0;
    virtual std::uint32_t SampleRate() const = 0;
    virtual std::uint32_t Channels() const = 0;
    // Waits up to `waitMs` for the next unit. A video frame or audio block is lent: its memory
    // stays valid until the next Take or Close, or, for a frame with a keeper, for as long as a
    // copy of the frame holds it. `sequence` counts the source's units, those it lost included,
    // so a gap in it is a gap in the capture.
    virtual Taken Take(VornCapture::VideoFrame& frame, VornCapture::AudioBlock& block,
                       int waitMs) = 0;
    // Units the source produced that never reached Take.
    virtual std::uint64_t Lost() const = 0;
    // How Take is to be called.
    enum class Reading {
        // Units pile up in the source: a thread has to take every one as it comes.
        Pumped,
        // Take reads the source at the moment it is called and never waits (the X screen):
        // Nothing means no frame can be had now. A frame's sequence then rises only when the
        // picture changed since the take before; Lost stays 0.
        Ticked,
        // Take waits for a unit newer than the last one taken and the source keeps only the
        // newest ones meanwhile (a camera read as it is): whatever a slow reader missed is
        // counted in Lost and left out of the sequence.
        Waited,
    };
    virtual Reading HowRead() const { return Reading::Pumped; }
    // The name of the source's own format that its frames are lent in ("YUY2", "MJPEG",
    // "BGRx", ...), "" when they are not lent.
    virtual std::string NativeFormat() const { return ""; }
    virtual void Close() = 0;
};

// Opens source `index` of `kind`; null with the reason when it does not open.
std::unique_ptr<SourceStream> OpenSource(const std::string& kind, unsigned int index,
                                         const OpenRequest& request, std::string& error);

}  // namespace vornpy
