// SPDX-License-Identifier: MIT
// The colour converter that intelligent connect places between a video output and an input
// that cannot take its format: any supported video format in, RGB24 or RGB32 out.
#include "com/classes.h"
#include "com/filter.h"
#include "world/media_pixels.h"

namespace VornCom {
namespace {

// A video type the converter can read: a known subtype with a video header of a valid size.
bool Convertible(const MediaType& type) {
    const VIDEOINFOHEADER* video = type.VideoInfo();
    return IsEqualGUID(type.Major(), MEDIATYPE_Video) && video != nullptr &&
           VornWorld::FrameBytes(type.Subtype(), video->bmiHeader.biWidth,
                                 video->bmiHeader.biHeight) != 0;
}

class ConverterInput final : public Pin {
public:
    explicit ConverterInput(Filter* owner) : Pin(owner, L"Input", PINDIR_INPUT) {}
    bool Accepts(const MediaType& type) override { return Convertible(type); }
};

class ConverterOutput final : public Pin {
public:
    ConverterOutput(Filter* owner, Pin* input)
        : Pin(owner, L"XForm Out", PINDIR_OUTPUT), input_(input) {}
    // RGB24 and RGB32 frames of the input's size and rate.
    std::vector<MediaType> Proposals() override {
        if (!input_->Connected()) return {};
        const VIDEOINFOHEADER* video = input_->ConnectionType().VideoInfo();
        std::vector<MediaType> types;
        for (const GUID* subtype : {&MEDIASUBTYPE_RGB24, &MEDIASUBTYPE_RGB32})
            types.push_back(MediaType::Video(*subtype, video->bmiHeader.biWidth,
                                             video->bmiHeader.biHeight, video->AvgTimePerFrame));
        return types;
    }
    bool Accepts(const MediaType& type) override {
        if (!input_->Connected() || !Convertible(type)) return false;
        if (type.Subtype() != MEDIASUBTYPE_RGB24 && type.Subtype() != MEDIASUBTYPE_RGB32)
            return false;
        const BITMAPINFOHEADER& want = type.VideoInfo()->bmiHeader;
        const BITMAPINFOHEADER& have = input_->ConnectionType().VideoInfo()->bmiHeader;
        return want.biWidth == have.biWidth && want.biHeight == have.biHeight;
    }

private:
    Pin* input_;
};

class Converter final : public Filter {
public:
    Converter() {
        AddPin(std::make_unique<ConverterInput>(this));
        AddPin(std::make_unique<ConverterOutput>(this, Pins()[0].get()));
    }
    VornWorld::FilterKind Kind() const override { return VornWorld::FilterKind::Converter; }
    std::wstring DefaultName() const override { return L"Color Space Converter"; }

    // Streaming thread only: converts into a buffer of its own and passes it on.
    HRESULT Receive(Pin*, const Sample& sample) override {
        const MediaType& in = Pins()[0]->ConnectionType();
        const MediaType& out = Pins()[1]->ConnectionType();
        const BITMAPINFOHEADER& header = in.VideoInfo()->bmiHeader;
        size_t need = VornWorld::FrameBytes(in.Subtype(), header.biWidth, header.biHeight);
        if (static_cast<size_t>(sample.length) < need) return S_OK;  // a short sample is dropped
        frame_.resize(VornWorld::FrameBytes(out.Subtype(), header.biWidth, header.biHeight));
        VornWorld::ConvertFrame(in.Subtype(), sample.data, out.Subtype(), frame_.data(),
                                header.biWidth, header.biHeight);
        Sample converted{frame_.data(), static_cast<LONG>(frame_.size()), sample.start,
                         sample.stop};
        return Pins()[1]->Deliver(converted);
    }

private:
    std::vector<BYTE> frame_;
};

}  // namespace

Filter* NewConverter() { return new Converter(); }

}  // namespace VornCom
