// SPDX-License-Identifier: MIT
// Where captured units go: video frames into a Y4M stream or numbered BMP files, audio
// buffers into a WAV file.
#pragma once

#include <cstdint>
#include <memory>
#include <string>

#include "frame.h"
#include "stream.h"
#include "yuvwriter.h"

namespace vmcapture {

enum class OutputFormat { Y4m, Bmp, Wav };

// The format named by `name` ("y4m", "bmp", "wav"), or when `name` is empty the one the
// file name's extension names; standard output ("-") takes the medium's default (Y4M for
// video, WAV for audio). False for a name whose extension names no format the tool writes,
// a format that does not suit the medium, and BMP frames to standard output.
bool ChooseOutputFormat(const std::string& name, const std::string& path,
                        VornCapture::Medium medium, OutputFormat& format, std::string& error);

class Sink {
public:
    virtual ~Sink() = default;
    // Writes one unit as the source delivered it. False when writing failed (Error() says
    // why). A unit that does not fit the stream, such as a frame of another size, is
    // skipped and counted, not an error.
    virtual bool Consume(const uint8_t* data, size_t size) = 0;
    // Writes one frame in its source's own format (a lent X screen's BGRx), converted once
    // into what the file holds; its top-left part where the stream is smaller. A frame smaller
    // than the stream is skipped and counted. False when writing failed or the sink takes no
    // such frames (audio).
    virtual bool ConsumeFrame(const VornCapture::VideoFrame&) {
        return Fail("this output takes no video frames");
    }
    // Completes and closes the output; an output destroyed unfinished is removed.
    virtual bool Finish(std::string& error) = 0;
    // Replaces the provisional frame rate of a Y4M file; false where that cannot be done
    // (standard output, other formats).
    virtual bool SetFrameRate(FrameRate) { return false; }
    // What stopped the writes when the file system took no more ("disk full", "file size
    // limit reached", ...); "" for any other failure or none.
    virtual std::string NoRoom() const { return ""; }
    // After that: keeps the whole frames or sample frames that reached the output, makes its
    // header say so, and gives it its name; `seconds` is what it holds. False (with the
    // reason) where nothing could be kept.
    virtual bool KeepWritten(double& seconds, std::string& error) {
        seconds = 0;
        error = error_;
        return false;
    }

    uint64_t Skipped() const { return skipped_; }
    const std::string& Error() const { return error_; }

protected:
    bool Fail(const std::string& error) {
        error_ = error;
        return false;
    }
    uint64_t skipped_ = 0;
    std::string error_;
};

// Opens the output. For Y4M, frames of odd width or height are cropped to even (the
// converter takes even sizes only); the crop is reported. The Y4M header takes `rate`, which
// SetFrameRate may replace. `range` Full: the frames are a JPEG camera's, and a Y4M file keeps
// their planes' full range as decoded (its header says so); other frames are video range.
std::unique_ptr<Sink> MakeSink(OutputFormat format, const std::string& path,
                               const VornCapture::StreamFormat& stream, FrameRate rate,
                               std::string& error,
                               VornCapture::YuvRange range = VornCapture::YuvRange::Video);

}  // namespace vmcapture
