// SPDX-License-Identifier: MIT
// Reading PCM audio back for tests: samples of one channel from the wave layouts the
// platform delivers, and the frequency that dominates them.
#pragma once

#include <cmath>
#include <cstddef>
#include <cstdint>
#include <vector>

namespace vmc_test {

constexpr double kPi = 3.14159265358979323846;  // M_PI is not standard C++

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
    const double coefficient = 2 * std::cos(2 * kPi * frequency / rate);
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

// How far samples stray from one unbroken sine of `frequency`: the largest step between
// neighbours (a clean sine of that peak steps at most `cleanStep`) and the largest miss of the
// sine's recurrence x[n+1] + x[n-1] = 2 cos(w) x[n], which is 0 for a perfect sine and of the
// order of the peak at a break; each with the sample where it is.
struct Continuity {
    double peak = 0;
    double step = 0;
    double cleanStep = 0;
    double miss = 0;
    size_t stepAt = 0;
    size_t missAt = 0;
};

inline Continuity MeasureContinuity(const std::vector<double>& x, double rate, double frequency) {
    Continuity c;
    const double twoCos = 2 * std::cos(2 * kPi * frequency / rate);
    for (size_t n = 0; n < x.size(); ++n) {
        c.peak = std::fmax(c.peak, std::fabs(x[n]));
        if (n == 0) continue;
        if (std::fabs(x[n] - x[n - 1]) > c.step) {
            c.step = std::fabs(x[n] - x[n - 1]);
            c.stepAt = n;
        }
        const double miss = n + 1 < x.size() ? std::fabs(x[n + 1] + x[n - 1] - twoCos * x[n]) : 0;
        if (miss > c.miss) {
            c.miss = miss;
            c.missAt = n;
        }
    }
    c.cleanStep = c.peak * 2 * std::sin(kPi * frequency / rate);
    return c;
}

// Whether the measure shows one unbroken sine in samples of `bits`: steps no larger than the
// clean sine's and misses within a few quantisation steps (and 1 % of the peak).
inline bool Unbroken(const Continuity& c, int bits) {
    const double lsb = std::ldexp(1.0, 1 - bits);
    return c.peak > 0 && c.step <= c.cleanStep * 1.05 + 2 * lsb &&
           c.miss <= 8 * lsb + 0.01 * c.peak;
}

}  // namespace vmc_test
