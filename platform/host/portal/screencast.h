// SPDX-License-Identifier: MIT
// The desktop's ScreenCast portal, asked over the session bus: one connection per process and
// at most one cast per source type (a monitor, a window), each shared by every device that reads
// it. A cast's picture arrives as a PipeWire stream on the descriptor the portal hands out.
#pragma once

#include <memory>
#include <string>

#include "host/pipewire/video_stream.h"

namespace VornWorld {
namespace host {
namespace portal {

// How the last request for a cast ended.
enum class Outcome {
    None,        // nothing asked yet
    Started,     // a stream is running
    Cancelled,   // the user dismissed the dialog (response 1)
    Refused,     // the portal ended the request otherwise (response 2)
    NoBus,       // no session bus could be reached
    NoPortal,    // no ScreenCast portal (or no backend for it) on the bus
    Failed,      // a call failed, timed out, or the stream could not be opened
    Ended,       // the stream ended: sharing stopped, the producer or the compositor went away
    NotOffered,  // the portal does not share this source type
    Stopped,     // the program stopped asking (StopAsking) while the request was open
};
const char* OutcomeName(Outcome outcome);

// What a cast shares, as the portal's source type bits.
enum class Source : unsigned {
    Monitor = 1,
    Window = 2,
};

class ScreenCast {
public:
    // The process's cast of `source`; each has a portal session and a restore token of its own.
    static ScreenCast& The(Source source = Source::Monitor);

    // Whether the portal shares `source`: its AvailableSourceTypes, read once per connection
    // without making a session, so asking never brings up a dialog. False without a session
    // bus or a portal.
    static bool Offers(Source source);

    // The running cast's stream, starting one when there is none: CreateSession, SelectSources
    // (this cast's source type, the cursor drawn into the picture where offered, persistent
    // permission with this cast's stored restore token), Start, OpenPipeWireRemote. A stored
    // token the portal refuses is dropped and the sources are selected once more without it.
    // The start runs on a thread of its own; the caller waits for it to end, or at most
    // `waitMs` milliseconds (the start goes on, and a later call finds its stream). Null when
    // no cast can be had yet. After a failure the portal is not asked again for a few seconds;
    // after the user said no, not before the cast has gone unwanted that long, so a capture
    // loop brings up one dialog, not one after another.
    std::shared_ptr<pipewire::VideoStream> Stream(int waitMs = kUntilStarted);
    static constexpr int kUntilStarted = -1;
    // The running cast's stream without starting one, and without waiting on a start under way
    // (a dialog may be open): null then.
    std::shared_ptr<pipewire::VideoStream> Running();
    Outcome LastOutcome();
    // Ends every cast (a start under way is closed and waited for) and closes the connection;
    // the next Stream() or Offers() starts afresh (reading the environment again, asking again
    // after StopAsking) without waiting.
    static void Reset();

    // The cursor mode the portal was asked for (1 hidden, 2 embedded, 4 metadata; 0 none).
    unsigned CursorMode();

private:
    explicit ScreenCast(Source source);
    struct Impl;
    Impl* impl_ = nullptr;
};

// Where the restore token of a cast of `source` is kept: $XDG_STATE_HOME/vornmediacapture/
// screencast.token for monitors, screencast-window.token for windows (~/.local/state when
// XDG_STATE_HOME is unset).
std::string TokenPath(Source source = Source::Monitor);

// A request waiting on the portal (the dialog of Start, above all) is closed at once, with its
// session, and no cast is started from then on, until Reset(). Only sets a flag, so a signal
// handler may call it.
void StopAsking();

// D-Bus objects of this process that exist now: the connection, portal sessions, signal
// subscriptions. 0 after Reset().
long LiveObjects();

}  // namespace portal
}  // namespace host
}  // namespace VornWorld
