// Media types of the virtual devices: the capability lists their stream configuration
// offers, the check that normalises a requested type, and the painting of one sample.
#pragma once

#include <windows.h>

#include <dshow.h>

#include <cstdint>
#include <vector>

#include "devices.h"
#include "shared/testsignal.h"

namespace VornDevices {

// The planar 4:2:0 subtype, which the system headers do not name: its FOURCC in the media
// subtype pattern.
extern const GUID kSubtypeI420;

// Media type records: a deep copy, the release of what a record holds, and task-memory
// records for callers that free them with the system's rules.
void FreeType(AM_MEDIA_TYPE& type);
bool CopyType(AM_MEDIA_TYPE& to, const AM_MEDIA_TYPE& from);
AM_MEDIA_TYPE* NewTypeCopy(const AM_MEDIA_TYPE& from);
void DeleteType(AM_MEDIA_TYPE* type);

// An owned media type record.
class MediaType {
public:
    MediaType() = default;
    MediaType(const MediaType& other) { CopyType(type_, other.type_); }
    MediaType& operator=(const MediaType& other);
    ~MediaType() { FreeType(type_); }
    bool Assign(const AM_MEDIA_TYPE& from);
    void Clear() { FreeType(type_); }
    const AM_MEDIA_TYPE& Get() const { return type_; }
    bool Empty() const { return type_.majortype == GUID_NULL; }

private:
    AM_MEDIA_TYPE type_ = {};
};

// The layout of a video subtype the devices offer (I420, YUY2, RGB24); false for others.
bool LayoutOfSubtype(const GUID& subtype, VornSignal::PixelLayout& layout);
// A video type of one of those layouts, size and frame interval; false for a size the layout
// cannot have or an interval of 0 or less.
bool VideoType(VornSignal::PixelLayout layout, long width, long height, REFERENCE_TIME interval,
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
