// SPDX-License-Identifier: MIT
#include "sinks.h"

#include <algorithm>
#include <cctype>

#include "bmp.h"
#if VORN_CAPTURE_HAS_CONVERT
#include "convert.h"
#endif
#include "image.h"
#include "report.h"
#include "wav.h"
#include "yuvwriter.h"

namespace vmcapture {

using VornCapture::CropTopLeft;
using VornCapture::DeviceFrameView;
using VornCapture::EvenDown;
using VornCapture::FrameError;
using VornCapture::I420Maker;
using VornCapture::ImageView;
using VornCapture::Medium;
using VornCapture::Orientation;
using VornCapture::PixelFormat;
using VornCapture::PixelFormatName;
using VornCapture::StreamFormat;
using VornCapture::VideoFrame;

#if VORN_CAPTURE_HAS_CONVERT
using VornCapture::AllocateFrame;
using VornCapture::Convert;
using VornCapture::ConvertError;
using VornCapture::ConvertErrorName;
using VornCapture::FrameErrorName;
#endif

namespace {

std::string LowerExtension(const std::string& path) {
    const size_t slash = path.find_last_of("/\\");
    const size_t dot = path.find_last_of('.');
    if (dot == std::string::npos || (slash != std::string::npos && dot < slash)) return "";
    std::string extension = path.substr(dot + 1);
    for (char& c : extension) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    return extension;
}

std::string SizeText(uint32_t width, uint32_t height) {
    return std::to_string(width) + "x" + std::to_string(height);
}

bool Packed(PixelFormat format) {
    return format == PixelFormat::BGRx || format == PixelFormat::RGBx ||
           format == PixelFormat::BGR24 || format == PixelFormat::RGB24;
}

// The top-left `width` x `height` of a frame: a packed frame's region over the same memory; a
// planar or compressed frame only as a whole (one of odd sides is then scaled, not cropped, by
// its conversion to even ones). False where the frame does not cover it.
bool TopLeft(VideoFrame& frame, uint32_t width, uint32_t height) {
    if (Packed(frame.format)) return CropTopLeft(frame, width, height);
    return frame.width >= width && frame.height >= height && frame.width - width < 2 &&
           frame.height - height < 2;
}

// Frames of the stream's size become images; others are skipped and reported once.
class VideoSink : public Sink {
public:
    explicit VideoSink(const StreamFormat& stream) : stream_(stream) {}

    bool Consume(const uint8_t* data, size_t size) override {
        ImageView frame;
        if (!DeviceFrameView(data, size, stream_.width, stream_.height, frame))
            return Skip("a frame of " + std::to_string(size) + " bytes does not fit");
        return WriteFrame(frame);
    }

    bool ConsumeFrame(const VideoFrame& frame) override {
        VideoFrame region = frame;
        if (!TopLeft(region, stream_.width, stream_.height))
            return Skip("a " + std::string(PixelFormatName(frame.format)) + " frame of " +
                        SizeText(frame.width, frame.height) + " does not cover");
        return WriteLent(region);
    }

protected:
    virtual bool WriteFrame(const ImageView& frame) = 0;
    // A packed frame of the stream's size, top row first or last, in its own format. By
    // default read where it lies, as an image.
    virtual bool WriteLent(const VideoFrame& frame) {
#if VORN_CAPTURE_HAS_CONVERT
        if (!Packed(frame.format)) {
            // A camera's own YUV or JPEG frame: made packed once, then written as an image.
            const VornCapture::Converted packed =
                VornCapture::ConvertToOwned(frame, PixelFormat::BGR24, frame.width, frame.height);
            if (packed.error != ConvertError::None) return Unconverted(frame, packed.error);
            return WriteLent(packed.frame);
        }
#endif
        const bool four = frame.format == PixelFormat::BGRx || frame.format == PixelFormat::RGBx;
        const bool blueFirst =
            frame.format == PixelFormat::BGRx || frame.format == PixelFormat::BGR24;
        return WriteFrame(ImageView{frame.planes[0].data, frame.width, frame.height,
                                    frame.planes[0].stride, four ? 4u : 3u,
                                    frame.orientation == Orientation::BottomUp, blueFirst});
    }
    bool Skip(const std::string& what) {
        if (skipped_++ == 0)
            ReportNotice(what + " " + SizeText(stream_.width, stream_.height) +
                         " (did the source change size?); such frames are skipped");
        return true;
    }
#if VORN_CAPTURE_HAS_CONVERT
    // A frame that would not convert. A camera's JPEG image that does not decode (cut short or
    // corrupt, as a camera sometimes sends one) is skipped and counted with the dropped frames,
    // as the library's devices drop theirs: one bad image does not end the capture. Anything
    // else is a failure.
    bool Unconverted(const VideoFrame& frame, ConvertError error) {
        if (frame.format != PixelFormat::MJPEG || error != ConvertError::Failed)
            return Fail(std::string("the colour conversion failed: ") + ConvertErrorName(error));
        ++skipped_;
        if (undecoded_++ == 0)
            ReportNotice(
                "a Motion-JPEG image from the camera did not decode (cut short or "
                "corrupt); such frames are skipped and counted as dropped");
        return true;
    }
    uint64_t undecoded_ = 0;
#endif
    StreamFormat stream_;
};

class Y4mSink : public VideoSink {
public:
    Y4mSink(const StreamFormat& stream, VornCapture::YuvRange range)
        : VideoSink(stream), range_(range) {}

    bool Open(const std::string& path, FrameRate rate, std::string& error) {
        rate_ = rate;
        width_ = EvenDown(stream_.width);
        height_ = EvenDown(stream_.height);
        if (width_ == 0 || height_ == 0) {
            error = "frames of " + SizeText(stream_.width, stream_.height) +
                    " are too small for Y4M (2x2 at least)";
            return false;
        }
        if (width_ != stream_.width || height_ != stream_.height)
            ReportNotice("frame size " + SizeText(stream_.width, stream_.height) +
                         " is odd; Y4M frames are cropped to " + SizeText(width_, height_) +
                         " (the converter takes even sizes only)");
        return writer_.Open(path, YuvContainer::Y4m, width_, height_, rate, error, false, range_);
    }
    bool Finish(std::string& error) override { return writer_.Close(error); }
    bool SetFrameRate(FrameRate rate) override { return writer_.RewriteRate(rate); }
    std::string NoRoom() const override { return writer_.File().NoRoom(); }
    bool KeepWritten(double& seconds, std::string& error) override {
        uint64_t frames = 0;
        const bool kept = writer_.KeepWholeFrames(frames, error);
        seconds = static_cast<double>(frames) / ToDouble(rate_);
        return kept;
    }

private:
    bool WriteFrame(const ImageView& frame) override {
        if (!maker_.Convert(frame, width_, height_)) return Fail("the colour converter failed");
        if (!writer_.WriteFrame(maker_)) return Fail(writer_.File().Failure());
        return true;
    }

#if VORN_CAPTURE_HAS_CONVERT
    // Converted once, straight from where the source lent it into the frame written.
    bool WriteLent(const VideoFrame& frame) override {
        VideoFrame even = frame;
        if (!TopLeft(even, width_, height_)) return Fail("the frame has no even part");
        if (i420_.error != FrameError::None) {
            i420_ = AllocateFrame(PixelFormat::I420, width_, height_);
            if (i420_.error != FrameError::None)
                return Fail(std::string("no memory for an I420 frame: ") +
                            FrameErrorName(i420_.error));
            i420_.target.range = range_;
        }
        const ConvertError converted = Convert(even, i420_.target);
        if (converted != ConvertError::None) return Unconverted(even, converted);
        if (!writer_.WriteFrame(i420_.frame)) return Fail(writer_.File().Failure());
        return true;
    }
    VornCapture::OwnedFrame i420_;
#endif

    FrameRate rate_;
    VornCapture::YuvRange range_;

    uint32_t width_ = 0;
    uint32_t height_ = 0;
    I420Maker maker_;
    YuvWriter writer_;
};

// Every frame goes to a file of its own under a temporary name; Finish gives them all their
// names, so a failed capture leaves no frames and replaces no older files.
class BmpSink : public VideoSink {
public:
    BmpSink(const StreamFormat& stream, const std::string& pattern, FrameRate rate)
        : VideoSink(stream), pattern_(pattern), rate_(rate) {}
    bool Finish(std::string& error) override {
        for (auto& file : files_)
            if (!file->Close(error)) return false;
        files_.clear();
        return true;
    }
    std::string NoRoom() const override { return noRoom_; }
    // The frames written whole are kept; the one that did not fit is gone already.
    bool KeepWritten(double& seconds, std::string& error) override {
        seconds = static_cast<double>(files_.size()) / ToDouble(rate_);
        return !files_.empty() && Finish(error);
    }

private:
    bool WriteFrame(const ImageView& frame) override {
        const std::vector<uint8_t> bytes = EncodeBmp(frame);
        auto file = std::make_unique<OutputFile>();
        std::string error;
        if (!file->Open(NumberedPath(pattern_, ++number_), error)) return Fail(error);
        if (!file->Write(bytes.data(), bytes.size()) || !file->Flush()) {
            noRoom_ = file->NoRoom();
            file->Close(error);
            return Fail(error);
        }
        files_.push_back(std::move(file));
        return true;
    }

    std::string pattern_;
    FrameRate rate_;
    std::string noRoom_;
    uint64_t number_ = 0;
    std::vector<std::unique_ptr<OutputFile>> files_;  // written, not yet named
};

class WavSink : public Sink {
public:
    bool Open(const std::string& path, const StreamFormat& stream, std::string& error) {
        bytesPerSecond_ = std::max<uint64_t>(1, stream.BytesPerSecond());
        return writer_.Open(path, stream.sampleRate, stream.bitsPerSample, stream.channels, error);
    }
    bool Consume(const uint8_t* data, size_t size) override {
        if (writer_.Write(data, size)) return true;
        return Fail(writer_.DataBytes() + size > WavWriter::kMaxDataBytes
                        ? "WAV files end at 4 GiB of audio"
                        : writer_.File().Failure());
    }
    bool Finish(std::string& error) override { return writer_.Close(error); }
    std::string NoRoom() const override { return writer_.File().NoRoom(); }
    bool KeepWritten(double& seconds, std::string& error) override {
        uint64_t bytes = 0;
        const bool kept = writer_.KeepWholeSamples(bytes, error);
        seconds = static_cast<double>(bytes) / static_cast<double>(bytesPerSecond_);
        return kept;
    }

private:
    WavWriter writer_;
    uint64_t bytesPerSecond_ = 1;
};

}  // namespace

bool ChooseOutputFormat(const std::string& name, const std::string& path, Medium medium,
                        OutputFormat& format, std::string& error) {
    const std::string chosen = name.empty() ? LowerExtension(path) : name;
    if (chosen == "y4m")
        format = OutputFormat::Y4m;
    else if (chosen == "bmp")
        format = OutputFormat::Bmp;
    else if (chosen == "wav")
        format = OutputFormat::Wav;
    else if (name.empty() && path == "-")
        format = medium == Medium::Video ? OutputFormat::Y4m : OutputFormat::Wav;
    else if (name.empty()) {
        error = "cannot tell the output format from the name '" + path +
                "': the tool writes .y4m, .bmp and .wav files (or say which with -f y4m|bmp|wav)";
        return false;
    } else {
        error = "unknown output format '" + name + "' (y4m, bmp or wav)";
        return false;
    }
    if ((format == OutputFormat::Wav) != (medium == Medium::Audio)) {
        error = medium == Medium::Audio ? "audio is written as WAV"
                                        : "video is written as Y4M or BMP frames";
        return false;
    }
    if (format == OutputFormat::Bmp && path == "-") {
        error = "BMP frames are written to files, not to standard output (use Y4M there)";
        return false;
    }
    return true;
}

std::unique_ptr<Sink> MakeSink(OutputFormat format, const std::string& path,
                               const StreamFormat& stream, FrameRate rate, std::string& error,
                               VornCapture::YuvRange range) {
    switch (format) {
        case OutputFormat::Y4m: {
            auto sink = std::make_unique<Y4mSink>(stream, range);
            return sink->Open(path, rate, error) ? std::move(sink) : nullptr;
        }
        case OutputFormat::Bmp:
            return std::make_unique<BmpSink>(stream, path, rate);
        case OutputFormat::Wav: {
            auto sink = std::make_unique<WavSink>();
            return sink->Open(path, stream, error) ? std::move(sink) : nullptr;
        }
    }
    return nullptr;
}

}  // namespace vmcapture
