// SPDX-License-Identifier: MIT
// Format negotiation on the capture pins: capability records, and which formats SetFormat
// takes (exactly what the capabilities allow). The record of the requests is read by the devices'
// tests (tests/virtual/test_push_devices.cpp).
#include <cstring>

#include "com_test.h"

namespace {

using comtest::Ptr;

class CapturePinFormats : public comtest::MediaTest {
protected:
    // The stream configuration of the capture pin of the first device of a category.
    void Open(const CLSID& category) {
        *device_.Out() = comtest::BindDevice(category, 0);
        ASSERT_TRUE(device_);
        Ptr<IPin> pin;
        *pin.Out() = comtest::FirstPin(device_.get(), PINDIR_OUTPUT);
        ASSERT_TRUE(pin);
        ASSERT_EQ(pin->QueryInterface(IID_IAMStreamConfig, config_.Void()), S_OK);
    }

    // The only camera has these capabilities; its stream configuration is opened.
    VornWorld::DeviceId OpenCamera(std::vector<VornWorld::VideoCapability> caps,
                                   int reportedCapsSize = 0) {
        VornWorld::DeviceConfig config = VornWorld::DefaultCamera();
        if (!caps.empty()) config.video = std::move(caps);
        config.reportedCapsSize = reportedCapsSize;
        VornWorld::RemoveAllDevices(VornWorld::MediaKind::Video);
        VornWorld::DeviceId id = VornWorld::AddDevice(config);
        Open(CLSID_VideoInputDeviceCategory);
        return id;
    }

    // SetFormat with the pin's current format changed by `edit`.
    template <class Format, class Edit>
    HRESULT SetEdited(Edit edit) {
        AM_MEDIA_TYPE* type = nullptr;
        EXPECT_EQ(config_->GetFormat(&type), S_OK);
        edit(type, reinterpret_cast<Format*>(type->pbFormat));
        HRESULT result = config_->SetFormat(type);
        comtest::DeleteType(type);
        return result;
    }

    HRESULT SetVideo(const GUID& subtype, LONG width, LONG height, REFERENCE_TIME interval) {
        return SetEdited<VIDEOINFOHEADER>([&](AM_MEDIA_TYPE* type, VIDEOINFOHEADER* header) {
            type->subtype = subtype;
            header->bmiHeader.biWidth = width;
            header->bmiHeader.biHeight = height;
            header->AvgTimePerFrame = interval;
        });
    }

    HRESULT SetWave(WORD channels, WORD bits, DWORD rate, WORD blockAlign) {
        return SetEdited<WAVEFORMATEX>([&](AM_MEDIA_TYPE*, WAVEFORMATEX* wave) {
            *wave = {WAVE_FORMAT_PCM, channels, rate, blockAlign * rate, blockAlign, bits, 0};
        });
    }

    Ptr<IBaseFilter> device_;
    Ptr<IAMStreamConfig> config_;
};

TEST_F(CapturePinFormats, VideoCapabilitiesDescribeEachEntry) {
    OpenCamera({{MEDIASUBTYPE_I420, 320, 240, 1280, 960, 16, 8, 10.0, 25.0}});
    int count = 0, size = 0;
    ASSERT_EQ(config_->GetNumberOfCapabilities(&count, &size), S_OK);
    EXPECT_EQ(count, 1);
    EXPECT_EQ(size, 128);
    VIDEO_STREAM_CONFIG_CAPS caps;
    AM_MEDIA_TYPE* type = nullptr;
    ASSERT_EQ(config_->GetStreamCaps(0, &type, reinterpret_cast<BYTE*>(&caps)), S_OK);
    auto* header = reinterpret_cast<VIDEOINFOHEADER*>(type->pbFormat);
    EXPECT_TRUE(IsEqualGUID(type->subtype, MEDIASUBTYPE_I420));
    EXPECT_EQ(header->bmiHeader.biWidth, 320);
    EXPECT_EQ(header->bmiHeader.biSizeImage, 320u * 240u * 3u / 2u);
    EXPECT_EQ(header->AvgTimePerFrame, 400000);
    EXPECT_EQ(caps.MaxOutputSize.cx, 1280);
    EXPECT_EQ(caps.MaxOutputSize.cy, 960);
    EXPECT_EQ(caps.OutputGranularityX, 16);
    EXPECT_EQ(caps.MinFrameInterval, 400000);
    EXPECT_EQ(caps.MaxFrameInterval, 1000000);
    comtest::DeleteType(type);
    EXPECT_EQ(config_->GetStreamCaps(1, &type, reinterpret_cast<BYTE*>(&caps)), S_FALSE);
    EXPECT_EQ(type, nullptr);
}

TEST_F(CapturePinFormats, VideoFormatsAcceptedOnlyWithinTheCapabilities) {
    OpenCamera({{MEDIASUBTYPE_YUY2, 640, 480},
                {MEDIASUBTYPE_I420, 320, 240, 1280, 960, 16, 8, 10.0, 25.0}});
    struct Case {
        const GUID* subtype;
        LONG width, height;
        REFERENCE_TIME interval;
        bool accepted;
    } cases[] = {
        {&MEDIASUBTYPE_YUY2, 640, 480, 500000, true},    // exact, 20 per second
        {&MEDIASUBTYPE_YUY2, 640, 480, 333333, true},    // 30 per second, the maximum
        {&MEDIASUBTYPE_YUY2, 640, 480, 0, true},         // no rate: the default
        {&MEDIASUBTYPE_YUY2, 320, 240, 500000, false},   // size not offered
        {&MEDIASUBTYPE_YUY2, 640, 480, 250000, false},   // 40 per second
        {&MEDIASUBTYPE_RGB24, 640, 480, 500000, false},  // subtype not offered
        {&MEDIASUBTYPE_I420, 1280, 960, 500000, true},   // the maximum output size
        {&MEDIASUBTYPE_I420, 336, 248, 500000, true},    // on the granularity
        {&MEDIASUBTYPE_I420, 330, 248, 500000, false},   // off the granularity
        {&MEDIASUBTYPE_I420, 1296, 960, 500000, false},  // beyond the maximum
        {&MEDIASUBTYPE_I420, 640, 480, 333333, false},   // faster than 25 per second
        {&MEDIASUBTYPE_I420, 640, -480, 500000, false},  // top-down YUV
    };
    for (const Case& c : cases) {
        HRESULT result = SetVideo(*c.subtype, c.width, c.height, c.interval);
        EXPECT_EQ(SUCCEEDED(result), c.accepted)
            << c.width << "x" << c.height << " @" << c.interval;
    }
    // The pin keeps the last accepted format, with the frame size computed anew.
    AM_MEDIA_TYPE* current = nullptr;
    ASSERT_EQ(config_->GetFormat(&current), S_OK);
    auto* header = reinterpret_cast<VIDEOINFOHEADER*>(current->pbFormat);
    EXPECT_EQ(header->bmiHeader.biWidth, 336);
    EXPECT_EQ(header->bmiHeader.biSizeImage, 336u * 248u * 3u / 2u);
    EXPECT_EQ(current->lSampleSize, header->bmiHeader.biSizeImage);
    comtest::DeleteType(current);

    AM_MEDIA_TYPE bad = comtest::PartialType(MEDIATYPE_Video, MEDIASUBTYPE_YUY2, FORMAT_VideoInfo);
    EXPECT_EQ(config_->SetFormat(&bad), VFW_E_INVALIDMEDIATYPE);  // no format block
    EXPECT_EQ(config_->SetFormat(nullptr), E_POINTER);
}

TEST_F(CapturePinFormats, AudioFormatsMustMatchAWaveCapability) {
    Open(CLSID_AudioInputDeviceCategory);
    int count = 0, size = 0;
    ASSERT_EQ(config_->GetNumberOfCapabilities(&count, &size), S_OK);
    EXPECT_EQ(size, 52);
    EXPECT_EQ(count, 7);
    AUDIO_STREAM_CONFIG_CAPS caps;
    AM_MEDIA_TYPE* type = nullptr;
    ASSERT_EQ(config_->GetStreamCaps(0, &type, reinterpret_cast<BYTE*>(&caps)), S_OK);
    auto* wave = reinterpret_cast<WAVEFORMATEX*>(type->pbFormat);
    EXPECT_TRUE(IsEqualGUID(type->formattype, FORMAT_WaveFormatEx));
    EXPECT_EQ(wave->nSamplesPerSec, 44100u);
    EXPECT_EQ(wave->nBlockAlign, 4);
    EXPECT_EQ(caps.MaximumChannels, 2u);
    comtest::DeleteType(type);

    EXPECT_EQ(SetWave(1, 16, 16000, 2), S_OK);
    EXPECT_EQ(SetWave(2, 16, 44100, 4), S_OK);
    EXPECT_TRUE(FAILED(SetWave(2, 16, 44100, 2)));   // block align inconsistent
    EXPECT_TRUE(FAILED(SetWave(2, 16, 96000, 4)));   // rate not offered
    EXPECT_TRUE(FAILED(SetWave(6, 16, 44100, 12)));  // channels not offered
}

// A device that converts for itself offers ranges: any channels, whole bytes and rate within
// them, proposed at the smallest.
TEST_F(CapturePinFormats, AudioRangesTakeEveryFormatWithinThem) {
    VornWorld::DeviceConfig config = VornWorld::DefaultMicrophone();
    config.audio = {{1, 8, 8000, 4, 24, 48000}};
    VornWorld::RemoveAllDevices(VornWorld::MediaKind::Audio);
    ASSERT_NE(VornWorld::AddDevice(config), VornWorld::kNoDevice);
    for (auto invalid : {VornWorld::AudioCapability{1, 16, 8000, 0, 8, 0},
                         VornWorld::AudioCapability{2, 16, 8000, 1, 0, 0},
                         VornWorld::AudioCapability{1, 16, 8000, 0, 20, 0},
                         VornWorld::AudioCapability{1, 16, 8000, 0, 0, 400000}}) {
        config.audio = {invalid};
        EXPECT_EQ(VornWorld::AddDevice(config), VornWorld::kNoDevice);
    }
    Open(CLSID_AudioInputDeviceCategory);
    AUDIO_STREAM_CONFIG_CAPS caps;
    AM_MEDIA_TYPE* type = nullptr;
    ASSERT_EQ(config_->GetStreamCaps(0, &type, reinterpret_cast<BYTE*>(&caps)), S_OK);
    EXPECT_EQ(reinterpret_cast<WAVEFORMATEX*>(type->pbFormat)->nSamplesPerSec, 8000u);
    comtest::DeleteType(type);
    EXPECT_EQ(caps.MinimumChannels, 1u);
    EXPECT_EQ(caps.MaximumChannels, 4u);
    EXPECT_EQ(caps.MaximumBitsPerSample, 24u);
    EXPECT_EQ(caps.BitsPerSampleGranularity, 8u);
    EXPECT_EQ(caps.MaximumSampleFrequency, 48000u);

    EXPECT_EQ(SetWave(3, 24, 11025, 9), S_OK);
    EXPECT_EQ(SetWave(4, 8, 48000, 4), S_OK);
    EXPECT_TRUE(FAILED(SetWave(5, 16, 44100, 10)));  // channels beyond the range
    EXPECT_TRUE(FAILED(SetWave(2, 32, 44100, 8)));   // bits beyond the range
    EXPECT_TRUE(FAILED(SetWave(2, 12, 44100, 3)));   // not whole bytes
    EXPECT_TRUE(FAILED(SetWave(2, 16, 7999, 4)));    // rate below the range
}

}  // namespace
