// Reading PCM audio back for tests: samples of one channel from the wave layouts the
// platform delivers, and the frequency that dominates them.
#pragma once

#include <cmath>
#include <cstddef>
#include <cstdint>
#include <vector>

namespace vmc_test {

// The first channel of interleaved little-endian PCM (8 bits unsigned, 16, 24 or 32 bits
// signed) as values in -1..1; an incomplete last sample frame is ignored.
inline std::vector<double> FirstChannel(const uint8_t* data, size_t bytes, int bits, int channels) {
    std::vector<double> samples;
    const size_t width = static_cast<size_t>(bits / 8);
    const size_t frame = width * static_cast<size_t>(channels);
    if (width == 0 || frame == 0) return samples;
    for (size_t at = 0; at + frame <= bytes; at += frame) {
        if (bits == 8) {
            samples.push_back((data[at] - 128) / 128.0);
            continue;
        }
        uint32_t value = 0;
        for (size_t i = 0; i < width; ++i) value |= uint32_t{data[at + i]} << (8 * i + 32 - bits);
        samples.push_back(static_cast<int32_t>(value) / 2147483648.0);
    }
    return samples;
}

// Strength of `frequency` in the samples (Goertzel's recurrence, any frequency, not only
// the bins of a transform of this length).
inline double Strength(const std::vector<double>& samples, double rate, double frequency) {
    const double coefficient = 2 * std::cos(2 * M_PI * frequency / rate);
    double previous = 0, older = 0;
    for (double sample : samples) {
        double next = sample + coefficient * previous - older;
        older = previous;
        previous = next;
    }
    return previous * previous + older * older - coefficient * previous * older;
}

// The strongest frequency between `low` and `high` Hz, searched in 1 Hz steps.
inline double DominantFrequency(const std::vector<double>& samples, double rate, double low = 50,
                                double high = 4000) {
    double best = low, strongest = -1;
    for (double f = low; f <= high; f += 1) {
        double s = Strength(samples, rate, f);
        if (s > strongest) {
            strongest = s;
            best = f;
        }
    }
    return best;
}

}  // namespace vmc_test
