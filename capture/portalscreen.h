// SPDX-License-Identifier: MIT
// The screen of a Wayland session, as the ScreenCast portal hands it out: the frames of the
// portal's PipeWire stream in the stream's own format (BGRx, RGBx, ... top row first, at the
// producer's stride, with the producer's time and the stream's sequence number), lent from the
// one copy the stream makes of each buffer. The same cast the desktop device reads.
#pragma once

#include <cstdint>
#include <memory>
#include <string>

#include "frame.h"

namespace VornCapture {

class PortalScreen {
public:
    PortalScreen();
    ~PortalScreen();
    PortalScreen(const PortalScreen&) = delete;
    PortalScreen& operator=(const PortalScreen&) = delete;

    // Whether this process's screen is the portal's: the host world in a Wayland session.
    static bool InUse();

    // Takes the portal's monitor cast, starting it when none runs (the desktop's dialog may be
    // waited for), and waits up to `waitMs` for its first frame. False with the reason when no
    // cast can be had, no frame came, or its frames are not packed RGB (then only the desktop
    // device reads them).
    bool Open(std::string& error, int waitMs);
    // The format and size of the newest frame seen (Open's, then Take's).
    PixelFormat Format() const;
    std::uint32_t Width() const;
    std::uint32_t Height() const;

    // Waits up to `waitMs` for a frame newer than the one taken last; false when none came (or
    // the cast ended). A held frame's pixels stay as they are: the stream writes new frames
    // elsewhere until it is let go.
    bool Take(VideoFrame& frame, int waitMs);
    // Whether the cast ended (sharing stopped, the compositor went away): nothing more comes.
    bool Ended() const;
    // Frames the stream made after the first taken that Take never gave (a consumer slower than
    // the screen, or one that asks for fewer frames a second).
    std::uint64_t Skipped() const;
    // Lets go of the cast; frames still held stay valid.
    void Close();

    struct State;

private:
    std::unique_ptr<State> state_;
};

}  // namespace VornCapture
