// SPDX-License-Identifier: MIT
// What the GStreamer suites of the PipeWire session share: PipeWire source nodes of GStreamer's
// test picture, a pipeline's first frame, and the difference of two raw frames.
#pragma once

#include <gst/gst.h>

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "child_process.h"

namespace vmc_test {

// A Video/Source node of GStreamer's test picture `pattern` in `caps` through `encoder`
// (identity for raw frames), with `properties` (node.name=..., ...) added to the node's.
std::unique_ptr<ChildProcess> TestPictureNode(const std::string& pattern, const std::string& caps,
                                              const std::string& encoder,
                                              const std::string& properties);

// A sample held until the object goes.
struct Sampled {
    GstSample* sample = nullptr;
    Sampled() = default;
    Sampled(const Sampled&) = delete;
    Sampled& operator=(const Sampled&) = delete;
    ~Sampled() {
        if (sample != nullptr) gst_sample_unref(sample);
    }
};

// The first sample of a pipeline ending in an appsink named "out" (a failed assertion after
// 10 s without one).
void FirstSample(const std::string& description, Sampled* out);

// The bytes of a sample's buffer.
std::vector<std::uint8_t> Bytes(GstSample* sample);

// The differences of two raw frames of the same caps, plane by plane, over each row's pixels:
// the largest and the largest mean of a plane; 256 for frames of other caps.
struct Difference {
    int largest = 0;
    double mean = 0;
};
Difference Compare(GstSample* a, GstSample* b);

// The names (and raw formats; " full range" after those of full-range colorimetry) of the caps
// vornvideosrc offers once started on the host world's source of `kind` (and `device`, where not
// empty), in order.
std::vector<std::string> OfferedCaps(const std::string& kind, const std::string& device);

}  // namespace vmc_test
