// SPDX-License-Identifier: MIT
// The crossbar that may sit upstream of a video capture device: its connectors as analog pins,
// the routes between them, and the analog input pin of the capture filter it feeds.
#include <algorithm>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "com/classes.h"
#include "com/filter.h"
#include "world/media.h"

namespace VornCom {
namespace {

using VornWorld::DeviceHandle;

const GUID kAnalogVideo = {
    0x0482DDE1, 0x7817, 0x11cf, {0x8A, 0x03, 0x00, 0xAA, 0x00, 0x6E, 0xCB, 0x65}};
const GUID kAnalogAudio = {
    0x0482DEE1, 0x7817, 0x11cf, {0x8A, 0x03, 0x00, 0xAA, 0x00, 0x6E, 0xCB, 0x65}};

// Pins of the analog side: crossbar pins and the capture filter's analog input. They carry
// no samples.
class AnalogPin final : public Pin {
public:
    AnalogPin(Filter* owner, std::wstring name, PIN_DIRECTION direction, bool video)
        : Pin(owner, std::move(name), direction), major_(video ? kAnalogVideo : kAnalogAudio) {}
    bool Accepts(const MediaType& type) override { return IsEqualGUID(type.Major(), major_); }
    std::vector<MediaType> Proposals() override {
        AM_MEDIA_TYPE type{};
        type.majortype = major_;
        type.formattype = FORMAT_None;
        return {MediaType(type)};
    }

private:
    GUID major_;
};

bool IsVideoConnector(LONG type) { return type < PhysConn_Audio_Tuner; }

std::wstring ConnectorName(LONG type) {
    static const wchar_t* const kVideo[] = {L"Video Tuner",
                                            L"Video Composite",
                                            L"Video SVideo",
                                            L"Video RGB",
                                            L"Video YRYBY",
                                            L"Video SerialDigital",
                                            L"Video ParallelDigital",
                                            L"Video SCSI",
                                            L"Video AUX",
                                            L"Video 1394",
                                            L"Video USB",
                                            L"Video Decoder",
                                            L"Video Encoder",
                                            L"Video SCART",
                                            L"Video Black"};
    static const wchar_t* const kAudio[] = {
        L"Audio Tuner", L"Audio Line", L"Audio Mic",  L"Audio AES Digital", L"Audio SPDIF Digital",
        L"Audio SCSI",  L"Audio AUX",  L"Audio 1394", L"Audio USB",         L"Audio Decoder"};
    if (type >= PhysConn_Video_Tuner && type <= PhysConn_Video_Black) return kVideo[type - 1];
    if (type >= PhysConn_Audio_Tuner && type <= PhysConn_Audio_AudioDecoder)
        return kAudio[type - PhysConn_Audio_Tuner];
    return L"Connector";
}

class Crossbar final : public Filter, public IAMCrossbar {
public:
    explicit Crossbar(DeviceHandle device) : device_(std::move(device)) {
        const auto& config = device_->config;
        for (size_t i = 0; i < config.crossbarInputs.size(); ++i)
            AddConnector(i, config.crossbarInputs[i], PINDIR_INPUT);
        for (size_t i = 0; i < config.crossbarOutputs.size(); ++i) {
            AddConnector(i, config.crossbarOutputs[i], PINDIR_OUTPUT);
            LONG input = -1;
            for (size_t j = 0; j < config.crossbarInputs.size() && input < 0; ++j)
                if (Routable(config.crossbarOutputs[i], config.crossbarInputs[j]))
                    input = static_cast<LONG>(j);
            routes_.push_back(input);
        }
    }
    VORN_FILTER_IUNKNOWN

    HRESULT STDMETHODCALLTYPE get_PinCounts(LONG* output, LONG* input) override {
        if (Fails(VORN_FAULT("IAMCrossbar::get_PinCounts"))) return E_FAIL;
        if (output == nullptr || input == nullptr) return E_POINTER;
        *output = Outputs();
        *input = Inputs();
        return S_OK;
    }

    HRESULT STDMETHODCALLTYPE CanRoute(LONG output, LONG input) override {
        if (Fails(VORN_FAULT("IAMCrossbar::CanRoute"))) return E_FAIL;
        return Check(output, input);
    }

    HRESULT STDMETHODCALLTYPE Route(LONG output, LONG input) override {
        HRESULT result = Fails(VORN_FAULT("IAMCrossbar::Route")) ? E_FAIL : Check(output, input);
        if (result == S_FALSE) result = E_FAIL;
        if (result == S_OK) {
            std::lock_guard<std::mutex> lock(mutex_);
            routes_[static_cast<size_t>(output)] = input;
        }
        VornWorld::RecordRoute(*device_, {result, output, input});
        return result;
    }

    HRESULT STDMETHODCALLTYPE get_IsRoutedTo(LONG output, LONG* input) override {
        if (input == nullptr) return E_POINTER;
        if (output < 0 || output >= Outputs()) return E_INVALIDARG;
        std::lock_guard<std::mutex> lock(mutex_);
        *input = routes_[static_cast<size_t>(output)];
        return *input < 0 ? S_FALSE : S_OK;
    }

    HRESULT STDMETHODCALLTYPE get_CrossbarPinInfo(BOOL is_input, LONG index, LONG* related,
                                                  LONG* type) override {
        if (Fails(VORN_FAULT("IAMCrossbar::get_CrossbarPinInfo"))) return E_FAIL;
        if (related == nullptr || type == nullptr) return E_POINTER;
        const auto& list =
            is_input ? device_->config.crossbarInputs : device_->config.crossbarOutputs;
        if (index < 0 || static_cast<size_t>(index) >= list.size()) return E_INVALIDARG;
        *related = -1;
        *type = list[static_cast<size_t>(index)];
        return S_OK;
    }

    VornWorld::FilterKind Kind() const override { return VornWorld::FilterKind::Crossbar; }
    VornWorld::DeviceId Device() const override { return device_->id; }
    std::wstring DefaultName() const override { return L"Crossbar"; }
    bool CanEndStream() const override { return false; }

    // The output that feeds the capture filter: the video decoder output, else the first.
    Pin* FeedingPin() const {
        const auto& outputs = device_->config.crossbarOutputs;
        auto decoder = std::find(outputs.begin(), outputs.end(), PhysConn_Video_VideoDecoder);
        size_t index =
            decoder == outputs.end() ? 0 : static_cast<size_t>(decoder - outputs.begin());
        return outputs.empty() ? nullptr
                               : Pins()[device_->config.crossbarInputs.size() + index].get();
    }

protected:
    void* FindExtra(REFIID iid) override { return FindAmong<IAMCrossbar>(this, iid); }

private:
    LONG Inputs() const { return static_cast<LONG>(device_->config.crossbarInputs.size()); }
    LONG Outputs() const { return static_cast<LONG>(device_->config.crossbarOutputs.size()); }
    static bool Routable(LONG output, LONG input) {
        return IsVideoConnector(output) == IsVideoConnector(input);
    }
    // S_OK when the route can be made, S_FALSE when the types differ, E_INVALIDARG for
    // indices out of range (an input of -1 cuts the route).
    HRESULT Check(LONG output, LONG input) const {
        if (output < 0 || output >= Outputs() || input < -1 || input >= Inputs())
            return E_INVALIDARG;
        if (input == -1) return S_OK;
        return Routable(device_->config.crossbarOutputs[static_cast<size_t>(output)],
                        device_->config.crossbarInputs[static_cast<size_t>(input)])
                   ? S_OK
                   : S_FALSE;
    }
    void AddConnector(size_t index, LONG type, PIN_DIRECTION direction) {
        std::wstring name = std::to_wstring(index) + L": " + ConnectorName(type) +
                            (direction == PINDIR_INPUT ? L" In" : L" Out");
        AddPin(std::make_unique<AnalogPin>(this, name, direction, IsVideoConnector(type)));
    }

    DeviceHandle device_;
    std::mutex mutex_;
    std::vector<LONG> routes_;
};

}  // namespace

std::unique_ptr<Pin> NewAnalogPin(Filter* owner, std::wstring name, PIN_DIRECTION direction,
                                  bool video) {
    return std::make_unique<AnalogPin>(owner, std::move(name), direction, video);
}

Filter* NewCrossbar(const DeviceHandle& device) { return new Crossbar(device); }

Pin* CrossbarFeed(Filter* crossbar) {
    auto* filter = dynamic_cast<Crossbar*>(crossbar);
    return filter == nullptr ? nullptr : filter->FeedingPin();
}

}  // namespace VornCom
