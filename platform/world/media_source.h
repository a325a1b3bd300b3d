// SPDX-License-Identifier: MIT
// Where a capture filter's samples come from. The filter negotiates the format, sizes the
// buffers and stamps the times; a source only fills one sample after another, in the format
// it was opened with. The virtual devices paint theirs, the host's devices read theirs.
#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>
#include <memory>

#include "vorn/win/dshow.h"

namespace VornWorld {

// The connected format: video frames of a subtype and size at an interval, or PCM audio.
struct StreamFormat {
    bool audio = false;
    GUID subtype{};
    LONG width = 0;
    LONG height = 0;
    REFERENCE_TIME interval = 0;  // video: 100 ns units per frame
    WAVEFORMATEX wave{};          // audio
    size_t sampleBytes = 0;       // what the filter reads per sample (a frame, or one buffer)
};

class MediaSource {
public:
    enum class Result {
        Filled,       // the buffer holds the next sample
        Interrupted,  // Interrupt was called
        Failed        // the device is gone or broke off; no sample will come
    };

    virtual ~MediaSource() = default;

    // A run begins (again): called on the controlling thread before the streaming thread
    // starts, and it clears an earlier interruption.
    virtual void Begin() = 0;
    // Streaming thread: fills `bytes` of `buffer` with the next sample, waiting for it as long
    // as it takes. `position` is the number of frames (audio: sample frames) the filter has
    // delivered before it. `time` may be set to the capture time of the sample, in 100 ns
    // units since the first sample of the source; it is left alone otherwise. An audio source
    // that stamps its samples stamps them on its own timeline: a sample that starts later than
    // the previous one ended says that the audio in between was lost.
    virtual Result Read(BYTE* buffer, size_t bytes, uint64_t position, REFERENCE_TIME* time) = 0;
    // Any thread: a waiting Read, and every Read until the next Begin, returns Interrupted.
    virtual void Interrupt() = 0;
    // Whether the source goes on capturing between runs, so that a finished stream started
    // again (a one-shot grab after the other) continues where the last one ended. Other
    // sources are opened afresh for such a run.
    virtual bool Continuous() const { return false; }
};

// Opens a device's source in a format it accepted; null when the device cannot stream now.
using SourceOpener = std::function<std::unique_ptr<MediaSource>(const StreamFormat&)>;

}  // namespace VornWorld
