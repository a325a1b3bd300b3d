// SPDX-License-Identifier: MIT
#include "progress.h"

namespace vmcapture {

using VornCapture::Medium;
using VornCapture::StreamFormat;

std::string Fixed(double value) {
    char text[64];
    std::snprintf(text, sizeof text, "%.1f", value);
    return text;
}

std::string DescribeCounts(const CaptureCounts& counts, const StreamFormat& stream) {
    const std::string dropped = "  dropped " + std::to_string(counts.dropped);
    const std::string elapsed = "  " + Fixed(counts.seconds) + " s";
    if (stream.medium == Medium::Audio) {
        const uint64_t perSecond = stream.BytesPerSecond();
        const double audio = perSecond ? static_cast<double>(counts.audioBytes) / perSecond : 0.0;
        return "audio " + Fixed(audio) + " s  buffers " + std::to_string(counts.units) + dropped +
               elapsed;
    }
    // The rate of the first moments says little; it is shown from half a second on.
    const std::string rate =
        counts.seconds >= 0.5 && counts.frameRate > 0 ? Fixed(counts.frameRate) : std::string("--");
    return "frames " + std::to_string(counts.units) + dropped + "  missing " +
           std::to_string(counts.missing) + "  " + rate + " of " +
           std::to_string(counts.askedRate) + " fps" + elapsed;
}

void Progress::Show(const std::string& line, bool now) {
    if (!enabled_) return;
    const auto time = std::chrono::steady_clock::now();
    if (!now && time - last_ < std::chrono::milliseconds(200)) return;
    last_ = time;
    // Carriage return and blanks over a longer previous line: works on every console.
    const size_t pad = shownLength_ > line.size() ? shownLength_ - line.size() : 0;
    std::fprintf(stream_, "\r%s%*s", line.c_str(), static_cast<int>(pad), "");
    std::fflush(stream_);
    shownLength_ = line.size();
}

void Progress::Finish(const std::string& line) {
    if (!enabled_) return;
    Show(line, true);
    std::fprintf(stream_, "\n");
    std::fflush(stream_);
}

}  // namespace vmcapture
