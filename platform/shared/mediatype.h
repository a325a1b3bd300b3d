// SPDX-License-Identifier: MIT
// Media types as values, for the filters of both worlds: the registered capture filters of the
// Windows build (against the system's headers) and the platform layer's media graph (against
// its own). An AM_MEDIA_TYPE with its format block and object reference, copied in and out of
// the task-memory records that the interfaces hand over, and the video subtypes of the frame
// layouts of shared/testsignal.h.
#pragma once

#if defined(_WIN32)
#include <windows.h>

#include <dshow.h>
#else
#include "vorn/win/dshow.h"
#endif

#include <cstddef>
#include <vector>

#include "shared/testsignal.h"

namespace VornMedia {

// The subtype of a FOURCC: the FOURCC in the media subtype pattern.
constexpr GUID FourccSubtype(DWORD fourcc) {
    return {fourcc, 0x0000, 0x0010, {0x80, 0x00, 0x00, 0xAA, 0x00, 0x38, 0x9B, 0x71}};
}
constexpr DWORD Fourcc(char a, char b, char c, char d) {
    return DWORD(static_cast<unsigned char>(a)) | DWORD(static_cast<unsigned char>(b)) << 8 |
           DWORD(static_cast<unsigned char>(c)) << 16 | DWORD(static_cast<unsigned char>(d)) << 24;
}
// Planar 4:2:0, which the system headers leave unnamed.
constexpr GUID kSubtypeI420 = FourccSubtype(Fourcc('I', '4', '2', '0'));

// The frame layout of a video subtype (I420 and IYUV, YV12, YUY2, RGB24, RGB32); false for
// others.
bool LayoutOfSubtype(const GUID& subtype, VornSignal::PixelLayout& layout);
// The header fields of a subtype's frames: bits per pixel (0 for unknown subtypes) and the
// compression (the FOURCC, or BI_RGB).
WORD BitsPerPixel(const GUID& subtype);
DWORD Compression(const GUID& subtype);
// Bytes of one frame; 0 for an unknown subtype or a size outside 1..16384.
size_t FrameBytes(const GUID& subtype, LONG width, LONG height);

class MediaType {
public:
    MediaType() : type_{} {}
    explicit MediaType(const AM_MEDIA_TYPE& type);
    MediaType(const MediaType& other) : MediaType(other.type_) {}
    MediaType(MediaType&& other) noexcept;
    MediaType& operator=(MediaType other) noexcept;
    ~MediaType() { Clear(); }

    // A video type of fixed-size frames: the header's bits, compression and image size follow
    // the subtype; the bit rate saturates.
    static MediaType Video(const GUID& subtype, LONG width, LONG height,
                           REFERENCE_TIME avgTimePerFrame);
    // A PCM type of the format (cbSize 0), one block per sample.
    static MediaType Audio(const WAVEFORMATEX& format);

    const AM_MEDIA_TYPE& Type() const { return type_; }
    const GUID& Major() const { return type_.majortype; }
    const GUID& Subtype() const { return type_.subtype; }
    bool Empty() const { return IsEqualGUID(type_.majortype, GUID_NULL); }
    void Clear();
    // The video header, or null when the type carries none (wrong format type or size).
    const VIDEOINFOHEADER* VideoInfo() const;
    // The wave format, or null likewise.
    const WAVEFORMATEX* Wave() const;
    // Bytes of one sample (a video frame, or a block of audio).
    ULONG SampleSize() const { return type_.lSampleSize; }

    // Whether this (complete) type fits `partial`, whose null GUIDs match anything.
    bool Fits(const AM_MEDIA_TYPE& partial) const;

    // Fills `out` (its old content is not freed), the format block in task memory and the
    // object reference added; E_OUTOFMEMORY leaves `out` empty.
    HRESULT CopyTo(AM_MEDIA_TYPE* out) const;
    // A new task-memory record (for GetFormat, GetStreamCaps, enumerators); null on failure.
    AM_MEDIA_TYPE* NewRecord() const;

private:
    // A type of fixed-size samples with a copy of the format block.
    static MediaType Fixed(const GUID& major, const GUID& subtype, const GUID& formatType,
                           ULONG sampleSize, const void* format, size_t formatSize);
    void Attach();  // points type_.pbFormat at format_

    AM_MEDIA_TYPE type_;
    std::vector<BYTE> format_;
};

// Frees what a record holds (format block, object reference) and empties it; then, for
// DeleteMediaType, the record itself. Null is ignored.
void FreeMediaType(AM_MEDIA_TYPE& type);
void DeleteMediaType(AM_MEDIA_TYPE* type);

}  // namespace VornMedia
