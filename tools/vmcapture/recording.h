// SPDX-License-Identifier: MIT
// Compressed recordings (.mkv, .mp4, .webm): a video source and optionally a microphone,
// captured by the GStreamer elements of gst/ and encoded and muxed by GStreamer's own plugins.
#pragma once

#include <cstdint>
#include <string>

#include "sources.h"

namespace vmcapture {

struct RecordingSettings {
    std::string container;  // mkv, mp4 or webm
    std::string output;
    std::string videoKind;  // desktop, window or camera
    std::string videoDevice;
    std::string via;  // for a camera: push, pull or empty
    VornCapture::CaptureRequest request;
    // A camera taken in its own format, in the mode of request's size and of this rate (0/0:
    // the camera fixes none): its JPEG frames stored as they come (neither decoded nor
    // encoded, .mkv only), or converted once to I420 for the encoder.
    bool cameraMode = false;
    bool storeJpeg = false;
    bool toI420 = false;
    uint32_t rateNum = 0;
    uint32_t rateDenom = 0;
    bool audio = false;
    std::string audioDevice;  // an index or a name
    double maxSeconds = 0;    // 0: no limit
    uint64_t maxFrames = 0;   // 0: no limit
    double timeout = 5;
    uint32_t videoKbps = 0;  // 0: the encoder's choice for the size
    uint32_t audioKbps = 96;
    bool quiet = false;
};

// Records until a limit or Ctrl-C; both streams start at the same moment (the first video
// frame once the microphone runs) and end at the same moment. Returns an exit status.
int Record(const RecordingSettings& settings);

}  // namespace vmcapture
