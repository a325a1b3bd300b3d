// SPDX-License-Identifier: MIT
// The one-line progress display of a capture: shown on a terminal only, rewritten in place a
// few times a second.
#pragma once

#include <chrono>
#include <cstdint>
#include <cstdio>
#include <string>

#include "stream.h"

namespace vmcapture {

struct CaptureCounts {
    uint64_t units = 0;    // frames written (video) or buffers written (audio)
    uint64_t dropped = 0;  // lost before the tool got them, or skipped by the writer
    uint64_t missing = 0;  // video: frames the rate asked for that the source never produced
    uint64_t audioBytes = 0;
    double seconds = 0;      // since the source opened
    double firstAt = -1;     // when the first unit came, since the source opened; -1 for none
    double frameRate = 0;    // video: frames a second measured over the frames written
    uint32_t askedRate = 0;  // video: the rate asked for
};

// `value` with one decimal, e.g. "19.8".
std::string Fixed(double value);

// "frames 57  dropped 0  missing 0  19.8 of 20 fps  2.9 s" or
// "audio 2.9 s  buffers 58  dropped 0  2.9 s".
std::string DescribeCounts(const CaptureCounts& counts, const VornCapture::StreamFormat& stream);

class Progress {
public:
    // `stream` is where the line goes; nothing is shown when `enabled` is false.
    Progress(std::FILE* stream, bool enabled) : stream_(stream), enabled_(enabled) {}
    // Rewrites the line, at most five times a second unless `now` is set.
    void Show(const std::string& line, bool now = false);
    // Shows `line` a last time and ends it.
    void Finish(const std::string& line);

private:
    std::FILE* stream_;
    bool enabled_;
    size_t shownLength_ = 0;
    std::chrono::steady_clock::time_point last_{};
};

}  // namespace vmcapture
