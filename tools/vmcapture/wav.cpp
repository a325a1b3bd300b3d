// SPDX-License-Identifier: MIT
#include "wav.h"

#include <cstring>

namespace vmcapture {

namespace {

constexpr uint32_t kRiffSizeOffset = 4;
constexpr uint32_t kDataSizeOffset = 40;
constexpr uint32_t kHeaderSize = 44;
constexpr uint32_t kWaveFormatPcm = 1;
constexpr uint32_t kUnknownLength = 0xFFFFFFFF;

}  // namespace

bool WavWriter::Open(const std::string& path, uint32_t sampleRate, uint32_t bitsPerSample,
                     uint32_t channels, std::string& error) {
    const uint64_t blockAlign = static_cast<uint64_t>(bitsPerSample) / 8 * channels;
    if (blockAlign == 0 || blockAlign > 0xFFFF || sampleRate == 0 ||
        blockAlign * sampleRate > 0xFFFFFFFFull) {
        error = "audio format " + std::to_string(sampleRate) + " Hz, " +
                std::to_string(bitsPerSample) + " bits, " + std::to_string(channels) +
                " channels cannot be written as WAV";
        return false;
    }
    if (!file_.Open(path, error)) return false;
    sampleRate_ = sampleRate;
    bitsPerSample_ = bitsPerSample;
    channels_ = channels;
    const std::string header = Header(0);
    dataBytes_ = 0;
    open_ = file_.Write(header.data(), header.size()) && file_.Flush();
    if (!open_) file_.Close(error);
    return open_;
}

std::string WavWriter::Header(uint64_t dataBytes) const {
    uint8_t header[kHeaderSize];
    const uint32_t blockAlign = bitsPerSample_ / 8 * channels_;
    std::memcpy(header, "RIFF", 4);
    const bool streaming = file_.IsStream();
    StoreLE32(header + kRiffSizeOffset,
              streaming ? kUnknownLength : static_cast<uint32_t>(kHeaderSize - 8 + dataBytes));
    std::memcpy(header + 8, "WAVEfmt ", 8);
    StoreLE32(header + 16, 16);  // size of the format chunk
    StoreLE16(header + 20, kWaveFormatPcm);
    StoreLE16(header + 22, channels_);
    StoreLE32(header + 24, sampleRate_);
    StoreLE32(header + 28, blockAlign * sampleRate_);
    StoreLE16(header + 32, blockAlign);
    StoreLE16(header + 34, bitsPerSample_);
    std::memcpy(header + 36, "data", 4);
    StoreLE32(header + kDataSizeOffset,
              streaming ? kUnknownLength : static_cast<uint32_t>(dataBytes));
    return std::string(reinterpret_cast<const char*>(header), sizeof header);
}

bool WavWriter::KeepWholeSamples(uint64_t& bytes, std::string& error) {
    const uint64_t blockAlign = static_cast<uint64_t>(bitsPerSample_) / 8 * channels_;
    const uint64_t unit = blockAlign % 2 == 0 ? blockAlign : 2 * blockAlign;
    open_ = false;
    uint64_t units = 0;
    const bool kept = file_.KeepWholeUnits(
        kHeaderSize, unit, [&](uint64_t whole) { return Header(whole * unit); }, units, error);
    bytes = units * unit;
    return kept;
}

bool WavWriter::Write(const uint8_t* data, size_t size) {
    if (!open_ || dataBytes_ + size > kMaxDataBytes) return false;
    if (!file_.Write(data, size)) return false;
    dataBytes_ += size;
    return UpdateSizes(0) && file_.Flush();
}

bool WavWriter::UpdateSizes(uint64_t padBytes) {
    if (file_.IsStream()) return true;
    uint8_t riffSize[4], dataSize[4];
    StoreLE32(riffSize, static_cast<uint32_t>(kHeaderSize - 8 + dataBytes_ + padBytes));
    StoreLE32(dataSize, static_cast<uint32_t>(dataBytes_));
    return file_.Patch(kRiffSizeOffset, riffSize, 4) && file_.Patch(kDataSizeOffset, dataSize, 4);
}

bool WavWriter::Close(std::string& error) {
    if (!open_) return file_.Close(error);
    open_ = false;
    // A data chunk of odd length is followed by one pad byte that its size does not count.
    const uint8_t pad = 0;
    const uint64_t padBytes = dataBytes_ % 2;
    const bool patched = (padBytes == 0 || file_.Write(&pad, 1)) && UpdateSizes(padBytes);
    const bool closed = file_.Close(error);
    if (!patched && closed) error = "could not complete the WAV header";
    return patched && closed;
}

}  // namespace vmcapture
