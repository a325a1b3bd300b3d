#include "com/mediatype.h"

#include <cstring>

#include "world/media_pixels.h"

namespace VornCom {

MediaType::MediaType() : type_{} {}

MediaType::MediaType(const AM_MEDIA_TYPE& type) : type_(type) {
    type_.pUnk = nullptr;
    if (type.pbFormat != nullptr && type.cbFormat > 0)
        format_.assign(type.pbFormat, type.pbFormat + type.cbFormat);
    Attach();
}

MediaType::MediaType(const MediaType& other) : type_(other.type_), format_(other.format_) {
    Attach();
}

MediaType& MediaType::operator=(const MediaType& other) {
    if (this != &other) {
        type_ = other.type_;
        format_ = other.format_;
        Attach();
    }
    return *this;
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
    bmi.biBitCount = VornWorld::BitsPerPixel(subtype);
    bmi.biCompression = VornWorld::Compression(subtype);
    bmi.biSizeImage = static_cast<DWORD>(VornWorld::FrameBytes(subtype, width, height));
    if (avgTimePerFrame > 0) {
        uint64_t bits = static_cast<uint64_t>(bmi.biSizeImage) * 8u * 10000000u /
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
    MediaType result;
    result.type_.majortype = major;
    result.type_.subtype = subtype;
    result.type_.bFixedSizeSamples = TRUE;
    result.type_.bTemporalCompression = FALSE;
    result.type_.lSampleSize = sampleSize;
    result.type_.formattype = formatType;
    const BYTE* bytes = static_cast<const BYTE*>(format);
    result.format_.assign(bytes, bytes + formatSize);
    result.Attach();
    return result;
}

const VIDEOINFOHEADER* MediaType::VideoInfo() const {
    if (type_.formattype != FORMAT_VideoInfo || format_.size() < sizeof(VIDEOINFOHEADER))
        return nullptr;
    return reinterpret_cast<const VIDEOINFOHEADER*>(format_.data());
}

const WAVEFORMATEX* MediaType::Wave() const {
    if (type_.formattype != FORMAT_WaveFormatEx || format_.size() < sizeof(WAVEFORMATEX))
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
        if (out->pbFormat == nullptr) return E_OUTOFMEMORY;
        std::memcpy(out->pbFormat, format_.data(), format_.size());
        out->cbFormat = static_cast<ULONG>(format_.size());
    }
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
    type.pbFormat = nullptr;
    type.cbFormat = 0;
    if (type.pUnk != nullptr) type.pUnk->Release();
    type.pUnk = nullptr;
}

void DeleteMediaType(AM_MEDIA_TYPE* type) {
    if (type == nullptr) return;
    FreeMediaType(*type);
    CoTaskMemFree(type);
}

}  // namespace VornCom
