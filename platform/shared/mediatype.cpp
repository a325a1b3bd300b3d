// SPDX-License-Identifier: MIT
#include "shared/mediatype.h"

#include <cstdint>
#include <cstring>
#include <utility>

namespace VornMedia {
namespace {

using VornSignal::PixelLayout;

struct SubtypeLayout {
    GUID subtype;
    PixelLayout layout;
    WORD bits;
};
// RGB subtypes are not FOURCCs; the system's names are not constants, so they are compared
// where they are needed.
const SubtypeLayout kFourccLayouts[] = {
    {kSubtypeI420, PixelLayout::I420, 12},
    {FourccSubtype(Fourcc('I', 'Y', 'U', 'V')), PixelLayout::I420, 12},
    {FourccSubtype(Fourcc('Y', 'V', '1', '2')), PixelLayout::YV12, 12},
    {FourccSubtype(Fourcc('Y', 'U', 'Y', '2')), PixelLayout::YUY2, 16},
};

bool IsRgb(const GUID& subtype) {
    return IsEqualGUID(subtype, MEDIASUBTYPE_RGB24) || IsEqualGUID(subtype, MEDIASUBTYPE_RGB32);
}

}  // namespace

bool LayoutOfSubtype(const GUID& subtype, PixelLayout& layout) {
    if (IsEqualGUID(subtype, MEDIASUBTYPE_RGB24)) {
        layout = PixelLayout::RGB24;
        return true;
    }
    if (IsEqualGUID(subtype, MEDIASUBTYPE_RGB32)) {
        layout = PixelLayout::RGB32;
        return true;
    }
    for (const SubtypeLayout& entry : kFourccLayouts) {
        if (!IsEqualGUID(subtype, entry.subtype)) continue;
        layout = entry.layout;
        return true;
    }
    return false;
}

WORD BitsPerPixel(const GUID& subtype) {
    if (IsEqualGUID(subtype, MEDIASUBTYPE_RGB24)) return 24;
    if (IsEqualGUID(subtype, MEDIASUBTYPE_RGB32)) return 32;
    for (const SubtypeLayout& entry : kFourccLayouts)
        if (IsEqualGUID(subtype, entry.subtype)) return entry.bits;
    return 0;
}

DWORD Compression(const GUID& subtype) { return IsRgb(subtype) ? BI_RGB : subtype.Data1; }

size_t FrameBytes(const GUID& subtype, LONG width, LONG height) {
    PixelLayout layout;
    return LayoutOfSubtype(subtype, layout) ? VornSignal::FrameBytes(layout, width, height) : 0;
}

MediaType::MediaType(const AM_MEDIA_TYPE& type) : type_(type) {
    if (type.pbFormat != nullptr && type.cbFormat > 0)
        format_.assign(type.pbFormat, type.pbFormat + type.cbFormat);
    Attach();
    if (type_.pUnk != nullptr) type_.pUnk->AddRef();
}

MediaType::MediaType(MediaType&& other) noexcept
    : type_(other.type_), format_(std::move(other.format_)) {
    Attach();
    other.type_ = AM_MEDIA_TYPE{};
    other.format_.clear();
}

MediaType& MediaType::operator=(MediaType other) noexcept {
    std::swap(type_, other.type_);
    std::swap(format_, other.format_);
    Attach();
    other.Attach();
    return *this;
}

void MediaType::Clear() {
    if (type_.pUnk != nullptr) type_.pUnk->Release();
    type_ = AM_MEDIA_TYPE{};
    format_.clear();
}

void MediaType::Attach() {
    type_.cbFormat = static_cast<ULONG>(format_.size());
    type_.pbFormat = format_.empty() ? nullptr : format_.data();
}

MediaType MediaType::Video(const GUID& subtype, LONG width, LONG height,
                           REFERENCE_TIME avgTimePerFrame) {
    VIDEOINFOHEADER header{};
    header.AvgTimePerFrame = avgTimePerFrame;
    BITMAPINFOHEADER& bmi = header.bmiHeader;
    bmi.biSize = sizeof(BITMAPINFOHEADER);
    bmi.biWidth = width;
    bmi.biHeight = height;
    bmi.biPlanes = 1;
    bmi.biBitCount = BitsPerPixel(subtype);
    bmi.biCompression = Compression(subtype);
    bmi.biSizeImage = static_cast<DWORD>(FrameBytes(subtype, width, height));
    if (avgTimePerFrame > 0) {
        const uint64_t bits = static_cast<uint64_t>(bmi.biSizeImage) * 8u * 10000000u /
                              static_cast<uint64_t>(avgTimePerFrame);
        header.dwBitRate = bits > 0xFFFFFFFFu ? 0xFFFFFFFFu : static_cast<DWORD>(bits);
    }
    return Fixed(MEDIATYPE_Video, subtype, FORMAT_VideoInfo, bmi.biSizeImage, &header,
                 sizeof header);
}

MediaType MediaType::Audio(const WAVEFORMATEX& format) {
    WAVEFORMATEX wave = format;
    wave.cbSize = 0;
    return Fixed(MEDIATYPE_Audio, MEDIASUBTYPE_PCM, FORMAT_WaveFormatEx, wave.nBlockAlign, &wave,
                 sizeof wave);
}

MediaType MediaType::Fixed(const GUID& major, const GUID& subtype, const GUID& formatType,
                           ULONG sampleSize, const void* format, size_t formatSize) {
    AM_MEDIA_TYPE type{};
    type.majortype = major;
    type.subtype = subtype;
    type.bFixedSizeSamples = TRUE;
    type.lSampleSize = sampleSize;
    type.formattype = formatType;
    type.cbFormat = static_cast<ULONG>(formatSize);
    type.pbFormat = static_cast<BYTE*>(const_cast<void*>(format));
    return MediaType(type);
}

const VIDEOINFOHEADER* MediaType::VideoInfo() const {
    if (!IsEqualGUID(type_.formattype, FORMAT_VideoInfo) ||
        format_.size() < sizeof(VIDEOINFOHEADER))
        return nullptr;
    return reinterpret_cast<const VIDEOINFOHEADER*>(format_.data());
}

const WAVEFORMATEX* MediaType::Wave() const {
    if (!IsEqualGUID(type_.formattype, FORMAT_WaveFormatEx) ||
        format_.size() < sizeof(WAVEFORMATEX))
        return nullptr;
    return reinterpret_cast<const WAVEFORMATEX*>(format_.data());
}

bool MediaType::Fits(const AM_MEDIA_TYPE& partial) const {
    auto fits = [](const GUID& want, const GUID& have) {
        return IsEqualGUID(want, GUID_NULL) || IsEqualGUID(want, have);
    };
    return fits(partial.majortype, type_.majortype) && fits(partial.subtype, type_.subtype) &&
           fits(partial.formattype, type_.formattype);
}

HRESULT MediaType::CopyTo(AM_MEDIA_TYPE* out) const {
    if (out == nullptr) return E_POINTER;
    *out = type_;
    out->pbFormat = nullptr;
    out->cbFormat = 0;
    if (!format_.empty()) {
        out->pbFormat = static_cast<BYTE*>(CoTaskMemAlloc(format_.size()));
        if (out->pbFormat == nullptr) {
            *out = AM_MEDIA_TYPE{};
            return E_OUTOFMEMORY;
        }
        std::memcpy(out->pbFormat, format_.data(), format_.size());
        out->cbFormat = static_cast<ULONG>(format_.size());
    }
    if (out->pUnk != nullptr) out->pUnk->AddRef();
    return S_OK;
}

AM_MEDIA_TYPE* MediaType::NewRecord() const {
    auto* record = static_cast<AM_MEDIA_TYPE*>(CoTaskMemAlloc(sizeof(AM_MEDIA_TYPE)));
    if (record == nullptr) return nullptr;
    if (FAILED(CopyTo(record))) {
        CoTaskMemFree(record);
        return nullptr;
    }
    return record;
}

void FreeMediaType(AM_MEDIA_TYPE& type) {
    if (type.pbFormat != nullptr) CoTaskMemFree(type.pbFormat);
    if (type.pUnk != nullptr) type.pUnk->Release();
    type = AM_MEDIA_TYPE{};
}

void DeleteMediaType(AM_MEDIA_TYPE* type) {
    if (type == nullptr) return;
    FreeMediaType(*type);
    CoTaskMemFree(type);
}

}  // namespace VornMedia
