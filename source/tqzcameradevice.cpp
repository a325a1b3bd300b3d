// SPDX-License-Identifier: MIT
#include "tqzcameradevice.h"

#include "internal/pull/pullgraph.h"

namespace TQZCapture {

namespace {

const internal::GraphBox kStreamConfigBox = {"Create Video AMStreamConfig ",
                                             "Failed to AMStreamConfig to interfaces!"};

const VIDEOINFOHEADER* VideoInfoOf(const AM_MEDIA_TYPE& type) {
    if (type.formattype != FORMAT_VideoInfo || type.pbFormat == nullptr ||
        type.cbFormat < sizeof(VIDEOINFOHEADER))
        return nullptr;
    return reinterpret_cast<const VIDEOINFOHEADER*>(type.pbFormat);
}

// The video graph: RGB24 grabber, the requested frame size, the connected size read back.
class CameraMedia : public internal::PullMedia {
public:
    explicit CameraMedia(TQZCameraDevice& device) : device_(device) {}

    const CLSID& Category() const override { return CLSID_VideoInputDeviceCategory; }
    void GrabberType(AM_MEDIA_TYPE& type) const override {
        type.majortype = MEDIATYPE_Video;
        type.subtype = MEDIASUBTYPE_RGB24;
        type.formattype = FORMAT_VideoInfo;
    }
    const internal::GraphBox& StreamConfigBox() const override { return kStreamConfigBox; }
    // Only a VIDEOINFOHEADER format takes the size; any other format stays as the device has it.
    bool ApplyFormat(IAMStreamConfig* config, AM_MEDIA_TYPE& current) override {
        if (VideoInfoOf(current) == nullptr) return true;
        auto* info = reinterpret_cast<VIDEOINFOHEADER*>(current.pbFormat);
        info->bmiHeader.biWidth = static_cast<LONG>(device_.Width);
        info->bmiHeader.biHeight = static_cast<LONG>(device_.Height);
        return config->SetFormat(&current) == S_OK;
    }
    // The connected size, taken as it comes (a negative height reads as a large value).
    void Connected(const AM_MEDIA_TYPE& type) override {
        const VIDEOINFOHEADER* info = VideoInfoOf(type);
        if (info == nullptr) return;
        device_.Width = static_cast<unsigned int>(info->bmiHeader.biWidth);
        device_.Height = static_cast<unsigned int>(info->bmiHeader.biHeight);
    }

private:
    TQZCameraDevice& device_;
};

}  // namespace

TQZCameraDevice::TQZCameraDevice() : Opened(false), Packets(100) {
    Packets.SetTheMaxCount(2);
    CoInitialize(nullptr);
}

TQZCameraDevice::TQZCameraDevice(const TQZCameraDevice* source) : TQZCameraDevice() {
    CopyDescription(source);
}

TQZCameraDevice::TQZCameraDevice(const TQZCameraDevice& other) : TQZCameraDevice() {
    *this = other;
}

TQZCameraDevice& TQZCameraDevice::operator=(const TQZCameraDevice& other) = default;

TQZCameraDevice::~TQZCameraDevice() {
    TQZCameraDevice::Close();
    CoUninitialize();
}

bool TQZCameraDevice::Open() {
    CameraMedia media(*this);
    return internal::OpenPullGraph(*this, internal::FieldsOf(*this), media);
}

bool TQZCameraDevice::Close() { return internal::ClosePullGraph(internal::FieldsOf(*this)); }

bool TQZCameraDevice::Pause() { return internal::PausePullGraph(internal::FieldsOf(*this)); }

TQZPacket* TQZCameraDevice::Query() {
    return internal::GrabPacket(*this, internal::FieldsOf(*this), false);
}

TQZPacket* TQZCameraDevice::Get() {
    return internal::GrabPacket(*this, internal::FieldsOf(*this), true);
}

void TQZCameraDevice::OnError(unsigned int) {}
void TQZCameraDevice::OnOpenBefore(void*) {}
void TQZCameraDevice::OnCloseBefore() {}
void TQZCameraDevice::OnOpenAfter() {}
void TQZCameraDevice::OnCloseAfter() {}

bool TQZCameraDevice::BindFilter(int index, IBaseFilter** filter) {
    return internal::BindCategoryFilter(CLSID_VideoInputDeviceCategory, index, filter);
}

void TQZCameraDevice::SetCrossBar() { internal::RouteCrossbar(Graph, DeviceFilter); }

}  // namespace TQZCapture
