// SPDX-License-Identifier: MIT
// The receiving end of push delivery: the host callbacks that a device calls on its streaming
// thread, and the bounded queue where they leave copies of the data for the tool's thread.
#pragma once

#include <condition_variable>
#include <cstdint>
#include <deque>
#include <mutex>
#include <vector>

#include "icaptureaudiocallback.h"
#include "icapturevideocallback.h"

namespace VornCapture {

class PushQueue {
public:
    explicit PushQueue(size_t bound) : bound_(bound) {}

    // Bounds the queue by the bytes it holds instead of by its units.
    void SetByteBound(size_t bytes);

    // Streaming thread: keeps a copy of the bytes and their time stamp (seconds), or drops
    // them (counted) while the queue is full, so the device never waits for the tool.
    void Put(double seconds, const unsigned char* data, long length);
    // Tool thread: waits up to `waitMs` for the oldest unit and moves it into `unit`.
    bool Take(std::vector<uint8_t>& unit, double& seconds, int waitMs);
    uint64_t Dropped() const;

private:
    mutable std::mutex mutex_;
    std::condition_variable ready_;
    std::deque<std::vector<uint8_t>> units_;
    std::deque<double> stamps_;                // one per unit
    std::vector<std::vector<uint8_t>> spare_;  // buffers given back, reused by Put
    size_t bound_;
    size_t byteBound_ = 0;  // 0: bound by units
    size_t heldBytes_ = 0;
    uint64_t dropped_ = 0;
};

class VideoCatcher : public TQZCapture::ICaptureVideoCallBack {
public:
    using Interface = TQZCapture::ICaptureVideoCallBack;
    explicit VideoCatcher(PushQueue& queue) : queue_(queue) {}
    void OnVideoStart() override {}
    void OnVideoStop() override {}
    void OnVideoPause(bool) override {}
    void OnVideoError(unsigned int) override {}
    void OnVideoFrame(double seconds, unsigned char* data, long length) override {
        queue_.Put(seconds, data, length);
    }

private:
    PushQueue& queue_;
};

class AudioCatcher : public TQZCapture::ICaptureAudioCallBack {
public:
    using Interface = TQZCapture::ICaptureAudioCallBack;
    explicit AudioCatcher(PushQueue& queue) : queue_(queue) {}
    void OnAudioStart() override {}
    void OnAudioStop() override {}
    void OnAudioError(unsigned int) override {}
    void OnAudioFrame(double seconds, unsigned char* data, long length) override {
        queue_.Put(seconds, data, length);
    }

private:
    PushQueue& queue_;
};

}  // namespace VornCapture
