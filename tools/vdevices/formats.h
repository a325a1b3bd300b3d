// SPDX-License-Identifier: MIT
// Media types of the virtual devices: the capability lists their stream configuration
// offers, the check that normalises a requested type, and the painting of one sample.
#pragma once

#include <windows.h>

#include <dshow.h>

#include <cstdint>
#include <vector>

#include "devices.h"
#include "shared/mediatype.h"
#include "shared/testsignal.h"

namespace VornDevices {

using VornMedia::DeleteMediaType;
using VornMedia::MediaType;

// A video type of the subtype, size and frame interval; false for a subtype the devices do not
// paint, a size it cannot have, or an interval of 0 or less.
bool VideoType(const GUID& subtype, long width, long height, REFERENCE_TIME interval,
               MediaType& out);

// The capabilities of a medium, in the order GetStreamCaps numbers them; the first is the
// format a pin has before anyone sets one.
int CapabilityCount(Medium medium);
// Capability `index` as a media type and its stream configuration record (VIDEO_ or
// AUDIO_STREAM_CONFIG_CAPS); false past the end.
bool Capability(Medium medium, int index, MediaType& type, BYTE* caps);
// The size of the stream configuration records of a medium.
int CapabilityRecordSize(Medium medium);

// Checks a requested type against the capabilities and writes the type the pin would
// deliver: the same format with its derived fields (image size, sample size, byte rate,
// block alignment) recomputed. Partial types (GUID_NULL subtype or format type, no format
// block) are not accepted.
bool Accept(Medium medium, const AM_MEDIA_TYPE& requested, MediaType& normalised);

// What a pin needs to stream a type it accepted.
struct StreamPlan {
    bool video = false;
    VornSignal::PixelLayout layout = VornSignal::PixelLayout::RGB24;
    long width = 0, height = 0;
    REFERENCE_TIME frameInterval = 0;  // video: 100 ns units per frame
    VornSignal::PcmLayout pcm = {};
    long bufferBytes = 0;  // bytes of one sample: a frame, or a buffer of audio
};
// The plan for an accepted type; `audioBuffer` is the audio buffer size the allocator
// was given (0: the pin's default of 50 ms).
StreamPlan PlanFor(const AM_MEDIA_TYPE& type, long audioBuffer);
// Agrees an allocator with the input pin a pin connects to: the receiver's own when it takes
// the properties asked (raised to what the receiver requires), else a new memory allocator;
// notifies the receiver and hands the allocator over with its reference.
HRESULT NegotiateAllocator(IMemInputPin* input, ALLOCATOR_PROPERTIES asked, IMemAllocator** chosen);

// The default audio buffer of a format: 50 ms, whole sample frames.
long DefaultAudioBuffer(const WAVEFORMATEX& format);

}  // namespace VornDevices
