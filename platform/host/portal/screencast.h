// The desktop's ScreenCast portal, asked over the session bus: one connection and at most one
// cast per process, shared by every screen device. The cast's picture arrives as a PipeWire
// stream on the descriptor the portal hands out.
#pragma once

#include <memory>
#include <string>

#include "host/pipewire/video_stream.h"

namespace VornWorld {
namespace host {
namespace portal {

// How the last request for a cast ended.
enum class Outcome {
    None,       // nothing asked yet
    Started,    // a stream is running
    Cancelled,  // the user dismissed the dialog (response 1)
    Refused,    // the portal ended the request otherwise (response 2)
    NoBus,      // no session bus could be reached
    NoPortal,   // no ScreenCast portal (or no backend for it) on the bus
    Failed,     // a call failed, timed out, or the stream could not be opened
    Ended,      // the stream ended: sharing stopped, the producer or the compositor went away
};
const char* OutcomeName(Outcome outcome);

class ScreenCast {
public:
    static ScreenCast& The();

    // The running cast's stream, starting one when there is none: CreateSession, SelectSources
    // (monitors, the cursor drawn into the picture where offered, persistent permission with
    // the stored restore token), Start, OpenPipeWireRemote. Null when no cast can be had; after
    // a failure the portal is not asked again for a few seconds, so a capture loop does not
    // bring up one dialog after another.
    std::shared_ptr<pipewire::VideoStream> Stream();
    Outcome LastOutcome();
    // Ends the cast and closes the connection; the next Stream() starts afresh (reading the
    // environment again) without waiting.
    void Reset();

    // The cursor mode the portal was asked for (1 hidden, 2 embedded, 4 metadata; 0 none).
    unsigned CursorMode();

private:
    ScreenCast() = default;
    struct Impl;
    Impl* impl_ = nullptr;
};

// Where the restore token is kept: $XDG_STATE_HOME/vornmediacapture/screencast.token, or
// under ~/.local/state when XDG_STATE_HOME is unset.
std::string TokenPath();

// D-Bus objects of this process that exist now: the connection, portal sessions, signal
// subscriptions. 0 after Reset().
long LiveObjects();

}  // namespace portal
}  // namespace host
}  // namespace VornWorld
