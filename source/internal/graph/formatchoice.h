// SPDX-License-Identifier: MIT
// Format choice of the media-graph devices, apart from the graph: from what a capture pin
// lists and what the host asked for, the format to ask the pin for. Pure functions over plain
// records; the devices read the pin, call these, and hand the result back to the pin.
#pragma once

#include "tqzdatatype.h"
#include "vornplatform.h"

namespace TQZCapture {
namespace internal {

// ---- Video ---------------------------------------------------------------------------------

// One capability of a video capture pin, as read with GetStreamCaps.
struct VideoCapability {
    HRESULT status = E_FAIL;  // what GetStreamCaps answered
    bool typed = false;       // it handed out a media type
    GUID majortype = {};
    GUID subtype = {};
    bool videoInfo = false;  // the type carries a readable VIDEOINFOHEADER
    LONG width = 0;          // that header's size
    LONG height = 0;
    SIZE largest = {0, 0};  // the capability's largest output size
};

// The media subtype that asks a video pin for `type`; null for types it is never asked for.
const GUID* VideoSubtype(TQZDataType type);

// Frame interval in 100-nanosecond units for a frame rate; 0 counts as the default 20.
REFERENCE_TIME FrameInterval(unsigned int frameRate);

// Sizes that a bitmap header can carry.
bool Representable(unsigned int width, unsigned int height);

// Whether a capability was read, is video of `subtype` with a video header, and has exactly
// width x height: the one the pin is set to when it is the first such.
bool IsExactVideoCapability(const VideoCapability& cap, const GUID& subtype, unsigned int width,
                            unsigned int height);

// Whether a capability was read without failure and is of `subtype`, whatever its size and
// header: the first such is the one the requested size is forced into.
bool IsVideoCapabilityOf(const VideoCapability& cap, const GUID& subtype);

// The size to ask of a capability: its largest output size when `useMaxSize`, else the
// requested one.
SIZE VideoAskSize(const VideoCapability& cap, unsigned int width, unsigned int height,
                  bool useMaxSize);

// ---- Audio ---------------------------------------------------------------------------------

// Whether the products of a PCM format fit the wave format record: bits x channels in 16
// bits, bits x rate x channels in a signed 32-bit value.
bool PcmFits(unsigned int sampleRate, unsigned int bitsPerSample, unsigned int channels);

// Bytes per second of a format that PcmFits accepted.
LONG BytesPerSecond(unsigned int sampleRate, unsigned int bitsPerSample, unsigned int channels);

// The push devices' buffer: twenty milliseconds of sound, the byte rate in single precision
// times 0.02, truncated.
LONG TwentyMsBuffer(LONG bytesPerSecond);

// Writes a PCM format into a wave record's fields, the block alignment and byte rate derived
// from the 16-bit fields as written.
void WritePcm(WAVEFORMATEX& wave, DWORD sampleRate, WORD bitsPerSample, WORD channels);

// The pull device's format: whether bits and channels fit the 16-bit fields of a wave record
// with their block alignment (anything else would reach the device cut down to other values).
bool PullRecordFits(unsigned int bitsPerSample, unsigned int channels);

// The pull device's buffer suggestion: `count` buffers of `seconds` of the requested format,
// aligned to bits x channels of the record as written. False when a product does not fit a
// signed 32-bit value.
bool PullBufferSuggestion(unsigned int sampleRate, unsigned int bitsPerSample,
                          unsigned int channels, WORD recordBits, WORD recordChannels, LONG count,
                          double seconds, ALLOCATOR_PROPERTIES& suggestion);

}  // namespace internal
}  // namespace TQZCapture
