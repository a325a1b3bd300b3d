// SPDX-License-Identifier: MIT
#include "formats.h"

#include <cstdio>
#include <type_traits>

#include "delivery.h"
#include "tqzcameradevice.h"
#include "tqzcameradeviceset.h"
#include "tqzenumdevice.h"
#include "tqzvoicedevice.h"
#include "tqzvoicedeviceset.h"

namespace VornCapture {

namespace {

std::string FourCc(DWORD code) {
    std::string text;
    for (int i = 0; i < 4; ++i) text += static_cast<char>(code >> (8 * i) & 0xFF);
    return text;
}

std::string Rates(REFERENCE_TIME shortest, REFERENCE_TIME longest) {
    char text[64];
    const double fastest = shortest > 0 ? 1e7 / shortest : 0,
                 slowest = longest > 0 ? 1e7 / longest : 0;
    if (slowest == 0 || slowest == fastest)
        std::snprintf(text, sizeof text, "%g fps", fastest);
    else
        std::snprintf(text, sizeof text, "%g-%g fps", slowest, fastest);
    return text;
}

std::string Size(const SIZE& size) {
    return std::to_string(size.cx) + "x" + std::to_string(size.cy);
}

std::string DescribeVideo(const AM_MEDIA_TYPE& type, const VIDEO_STREAM_CONFIG_CAPS& caps) {
    std::string name = "?";
    if (IsEqualGUID(type.formattype, FORMAT_VideoInfo) && type.pbFormat != nullptr &&
        type.cbFormat >= sizeof(VIDEOINFOHEADER)) {
        const auto& header = reinterpret_cast<const VIDEOINFOHEADER*>(type.pbFormat)->bmiHeader;
        name = header.biCompression == BI_RGB ? "RGB" + std::to_string(header.biBitCount)
                                              : FourCc(header.biCompression);
    }
    std::string sizes = Size(caps.MinOutputSize);
    if (caps.MaxOutputSize.cx != caps.MinOutputSize.cx ||
        caps.MaxOutputSize.cy != caps.MinOutputSize.cy)
        sizes += " to " + Size(caps.MaxOutputSize) + " in steps of " +
                 std::to_string(caps.OutputGranularityX) + "x" +
                 std::to_string(caps.OutputGranularityY);
    return name + " " + sizes + ", " + Rates(caps.MinFrameInterval, caps.MaxFrameInterval);
}

std::string DescribeAudio(const AM_MEDIA_TYPE& type) {
    if (!IsEqualGUID(type.formattype, FORMAT_WaveFormatEx) || type.pbFormat == nullptr ||
        type.cbFormat < 16)
        return "?";
    const auto* wave = reinterpret_cast<const WAVEFORMATEX*>(type.pbFormat);
    return AudioText(wave->nSamplesPerSec, wave->wBitsPerSample, wave->nChannels);
}

// Opens a copy of the set's device (a pull device builds its graph on Open but runs nothing
// until asked for a sample) and hands each capability of its capture pin to `visit`. False when
// the device is gone or does not list its capabilities (`why` says which).
template <class Device, class Set, void (*Enumerate)(Set&), class Caps, class Visit>
bool ReadFormats(const Selector& selector, std::string& why, Visit visit) {
    Set set;
    Enumerate(set);
    const Device* listed =
        selector.byName ? set.GetByName(selector.name) : set.GetByIndex(selector.index);
    if (listed == nullptr) {
        why = "(formats unknown: the device is gone)";
        return false;
    }
    Device device(listed);
    IAMStreamConfig* config = nullptr;
    int count = 0, size = 0;
    bool listing = true;
    if (!OpenDevice(device, nullptr) || !device.DeviceOutputPin ||
        FAILED(device.DeviceOutputPin->QueryInterface(IID_IAMStreamConfig,
                                                      reinterpret_cast<void**>(&config))) ||
        FAILED(config->GetNumberOfCapabilities(&count, &size)) ||
        size < static_cast<int>(sizeof(Caps))) {
        why = "(formats unknown: the device does not list them)";
        listing = false;
        count = 0;
    }
    for (int i = 0; i < count; ++i) {
        Caps caps{};
        AM_MEDIA_TYPE* type = nullptr;
        if (FAILED(config->GetStreamCaps(i, &type, reinterpret_cast<BYTE*>(&caps))) ||
            type == nullptr)
            continue;
        visit(*type, caps);
        if (type->pbFormat != nullptr) CoTaskMemFree(type->pbFormat);
        if (type->pUnk != nullptr) type->pUnk->Release();
        CoTaskMemFree(type);
    }
    if (config != nullptr) config->Release();
    CloseDevice(device);
    return listing;
}

// One line per capability, or the line saying why there are none.
template <class Device, class Set, void (*Enumerate)(Set&), class Caps>
std::vector<std::string> FormatLines(unsigned int index) {
    std::vector<std::string> lines;
    std::string why;
    Selector selector;
    selector.index = index;
    const bool listed = ReadFormats<Device, Set, Enumerate, Caps>(
        selector, why, [&](const AM_MEDIA_TYPE& type, const Caps& caps) {
            if constexpr (std::is_same<Caps, VIDEO_STREAM_CONFIG_CAPS>::value)
                lines.push_back(DescribeVideo(type, caps));
            else
                lines.push_back(DescribeAudio(type));
        });
    if (!listed) lines.insert(lines.begin(), why);
    return lines;
}

}  // namespace

std::vector<std::string> DeviceFormats(const SourceKind& row, unsigned int index) {
    using namespace TQZCapture;
    if (std::string(row.kind) == "camera")
        return FormatLines<TQZCameraDevice, TQZCameraDeviceSet, &TQZEnumDevice::EnumCameraDevice,
                           VIDEO_STREAM_CONFIG_CAPS>(index);
    if (std::string(row.kind) == "microphone")
        return FormatLines<TQZVoiceDevice, TQZVoiceDeviceSet, &TQZEnumDevice::EnumVoiceDevice,
                           AUDIO_STREAM_CONFIG_CAPS>(index);
    return {};
}

std::vector<StreamFormat> MicrophoneFormats(const Selector& selector) {
    using namespace TQZCapture;
    std::vector<StreamFormat> formats;
    std::string why;
    ReadFormats<TQZVoiceDevice, TQZVoiceDeviceSet, &TQZEnumDevice::EnumVoiceDevice,
                AUDIO_STREAM_CONFIG_CAPS>(
        selector, why, [&](const AM_MEDIA_TYPE& type, const AUDIO_STREAM_CONFIG_CAPS&) {
            StreamFormat format;
            format.medium = Medium::Audio;
            if (ReadWaveFormat(type, format)) formats.push_back(format);
        });
    return formats;
}

}  // namespace VornCapture
