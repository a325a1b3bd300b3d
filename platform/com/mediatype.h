// Media types as values: an AM_MEDIA_TYPE with its format block, copied in and out of the
// task-memory records that the interfaces hand over.
#pragma once

#include <cstdint>
#include <vector>

#include "vorn/win/dshow.h"

namespace VornCom {

class MediaType {
public:
    MediaType();
    explicit MediaType(const AM_MEDIA_TYPE& type);
    MediaType(const MediaType& other);
    MediaType& operator=(const MediaType& other);

    static MediaType Video(const GUID& subtype, LONG width, LONG height,
                           REFERENCE_TIME avgTimePerFrame);
    static MediaType Audio(const WAVEFORMATEX& format);

    const AM_MEDIA_TYPE& Type() const { return type_; }
    const GUID& Major() const { return type_.majortype; }
    const GUID& Subtype() const { return type_.subtype; }
    // The video header, or null when the type carries none (wrong format type or size).
    const VIDEOINFOHEADER* VideoInfo() const;
    // The wave format, or null likewise.
    const WAVEFORMATEX* Wave() const;
    // Bytes of one sample (a video frame, or 0 for audio).
    ULONG SampleSize() const { return type_.lSampleSize; }

    // Whether this (complete) type fits `partial`, whose null GUIDs match anything.
    bool Fits(const AM_MEDIA_TYPE& partial) const;

    // Fills `out` (its old content is not freed), the format block in task memory.
    HRESULT CopyTo(AM_MEDIA_TYPE* out) const;
    // A new task-memory record (for GetFormat, GetStreamCaps, enumerators); null on failure.
    AM_MEDIA_TYPE* NewRecord() const;

private:
    // A type of fixed-size samples with the given format block.
    static MediaType Fixed(const GUID& major, const GUID& subtype, const GUID& formatType,
                           ULONG sampleSize, const void* format, size_t formatSize);
    void Attach();  // points type_.pbFormat at format_

    AM_MEDIA_TYPE type_;
    std::vector<BYTE> format_;
};

// Frees what a record holds (format block, object reference), and the record itself.
void FreeMediaType(AM_MEDIA_TYPE& type);
void DeleteMediaType(AM_MEDIA_TYPE* type);

}  // namespace VornCom
