// SPDX-License-Identifier: MIT
// vmc_wavcheck FILE SECONDS FREQUENCY: judges a WAV file of a recorded sine tone from the file
// alone. Its length, by the header and by the sample bytes present, must be at least SECONDS;
// the tone must be unbroken: no step between neighbouring samples larger than a clean sine of
// that peak and FREQUENCY makes, and no miss of the sine's recurrence
// x[n+1] + x[n-1] = 2 cos(w) x[n] larger than a few quantisation steps.
// Prints what it measured on one line; exit 0 when full and unbroken, 1 broken, 2 short, 3 not
// a readable 8/16/24/32-bit PCM file.
#include <algorithm>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

#include "tone.h"

namespace {

uint32_t Word(const std::vector<uint8_t>& b, size_t at, int bytes) {
    uint32_t value = 0;
    for (int i = 0; i < bytes; ++i) value |= uint32_t{b[at + static_cast<size_t>(i)]} << (8 * i);
    return value;
}

struct Wave {
    int channels = 0;
    int bits = 0;
    uint32_t rate = 0;
    uint32_t declared = 0;  // bytes of the data chunk by its header
    size_t dataAt = 0;
    size_t present = 0;  // bytes of the data chunk in the file
};

bool Parse(const std::vector<uint8_t>& b, Wave& w) {
    if (b.size() < 12 || std::string(b.begin(), b.begin() + 4) != "RIFF" ||
        std::string(b.begin() + 8, b.begin() + 12) != "WAVE")
        return false;
    for (size_t at = 12; at + 8 <= b.size();) {
        const std::string id(b.begin() + static_cast<long>(at),
                             b.begin() + static_cast<long>(at) + 4);
        const uint32_t size = Word(b, at + 4, 4);
        if (id == "fmt " && at + 8 + 16 <= b.size()) {
            if (Word(b, at + 8, 2) != 1) return false;  // PCM only
            w.channels = static_cast<int>(Word(b, at + 10, 2));
            w.rate = Word(b, at + 12, 4);
            w.bits = static_cast<int>(Word(b, at + 22, 2));
        } else if (id == "data") {
            w.dataAt = at + 8;
            w.declared = size;
            w.present = std::min<size_t>(size, b.size() - w.dataAt);
            return w.channels > 0 && w.rate > 0 && w.bits % 8 == 0 && w.bits >= 8 && w.bits <= 32;
        }
        at += 8 + size + (size & 1);
    }
    return false;
}

}  // namespace

int main(int argc, char** argv) {
    if (argc != 4) {
        std::fprintf(stderr, "usage: vmc_wavcheck FILE SECONDS FREQUENCY\n");
        return 3;
    }
    std::ifstream in(argv[1], std::ios::binary);
    const std::vector<uint8_t> bytes((std::istreambuf_iterator<char>(in)),
                                     std::istreambuf_iterator<char>());
    Wave w;
    if (!Parse(bytes, w)) {
        std::printf("%s: not a PCM WAV file\n", argv[1]);
        return 3;
    }
    const double seconds = std::atof(argv[2]);
    const double frequency = std::atof(argv[3]);
    const size_t frame = static_cast<size_t>(w.channels * w.bits / 8);
    const std::vector<double> x =
        vmc_test::FirstChannel(bytes.data() + w.dataAt, w.present, w.bits, w.channels);
    const double byHeader = static_cast<double>(w.declared / frame) / w.rate;
    const double bySamples = static_cast<double>(x.size()) / w.rate;

    const vmc_test::Continuity c = vmc_test::MeasureContinuity(x, w.rate, frequency);
    const bool unbroken = vmc_test::Unbroken(c, w.bits);
    const bool full = byHeader + 0.5 / w.rate >= seconds && bySamples + 0.5 / w.rate >= seconds;
    std::printf(
        "%s: %.4f s by the header, %.4f s by the samples; peak %.4f; largest step %.3f x a clean "
        "sine's (at %.4f s); largest miss of the recurrence %.2f %% of the peak (at %.4f s)%s%s\n",
        argv[1], byHeader, bySamples, c.peak, c.cleanStep > 0 ? c.step / c.cleanStep : 0,
        static_cast<double>(c.stepAt) / w.rate, c.peak > 0 ? 100 * c.miss / c.peak : 0,
        static_cast<double>(c.missAt) / w.rate, full ? "" : "; SHORT", unbroken ? "" : "; BROKEN");
    if (!unbroken) return 1;
    return full ? 0 : 2;
}
