// SPDX-License-Identifier: MIT
// Bitmap pixel memory: rows filled on demand, and memory kept from one bitmap to the next.
#include <algorithm>
#include <new>
#include <vector>

#include "world/display_objects.h"

namespace VornWorld {
namespace display {
namespace {

// Pixel memory of deleted bitmaps, kept for the next bitmaps of the same size: a capture makes
// and deletes one full-screen bitmap per frame, and fresh memory would cost a page fault per
// 4 KiB on every frame.
class PixelPool {
public:
    std::unique_ptr<uint32_t[]> Take(size_t count) {
        {
            std::lock_guard<std::mutex> lock(mutex_);
            for (auto it = kept_.begin(); it != kept_.end(); ++it) {
                if (it->count == count) {
                    auto pixels = std::move(it->pixels);
                    bytes_ -= count * sizeof(uint32_t);
                    kept_.erase(it);
                    return pixels;
                }
            }
        }
        return std::unique_ptr<uint32_t[]>(new (std::nothrow) uint32_t[count]);
    }

    void Give(std::unique_ptr<uint32_t[]> pixels, size_t count) {
        size_t bytes = count * sizeof(uint32_t);
        if (bytes < kSmallest || bytes > kMaxBytes) return;
        std::lock_guard<std::mutex> lock(mutex_);
        // The oldest go first when the pool is full.
        while (!kept_.empty() && (kept_.size() >= kMaxBuffers || bytes_ + bytes > kMaxBytes)) {
            bytes_ -= kept_.front().count * sizeof(uint32_t);
            kept_.erase(kept_.begin());
        }
        kept_.push_back(Kept{count, std::move(pixels)});
        bytes_ += bytes;
    }

private:
    static constexpr size_t kSmallest = 256 * 1024;  // smaller ones come cheaply anyway
    static constexpr size_t kMaxBytes = 64u * 1024 * 1024;
    static constexpr size_t kMaxBuffers = 4;
    struct Kept {
        size_t count;
        std::unique_ptr<uint32_t[]> pixels;
    };
    std::mutex mutex_;
    std::vector<Kept> kept_;
    size_t bytes_ = 0;
};

PixelPool& ThePool() {
    static PixelPool* pool = new PixelPool();  // lives as long as the process
    return *pool;
}

}  // namespace

std::shared_ptr<BitmapData> MakeBitmap(int width, int height, bool mono) {
    if (width <= 0 || height <= 0) return nullptr;
    uint64_t count = static_cast<uint64_t>(width) * static_cast<uint64_t>(height);
    if (count > kMaxBitmapPixels) return nullptr;
    std::shared_ptr<BitmapData> bitmap(new (std::nothrow) BitmapData());
    if (!bitmap) return nullptr;
    bitmap->width = width;
    bitmap->height = height;
    bitmap->mono = mono;
    bitmap->pixels = ThePool().Take(static_cast<size_t>(count));
    if (!bitmap->pixels) return nullptr;
    bitmap->filled_.assign(static_cast<size_t>(height), 0);
    bitmap->unfilled_ = height;
    return bitmap;
}

BitmapData::~BitmapData() {
    if (pixels) ThePool().Give(std::move(pixels), static_cast<size_t>(width) * height);
}

void BitmapData::Realize(int top, int bottom) {
    if (unfilled_ == 0) return;
    top = std::max(top, 0);
    bottom = std::min(bottom, height);
    for (int y = top; y < bottom; ++y) {
        if (filled_[y] != 0) continue;
        if (source_) {
            source_->Copy(sourceX_, sourceY_ + y, width, 1, Row(y), static_cast<size_t>(width));
        } else {
            FillPixels(Row(y), 0, static_cast<size_t>(width));
        }
        filled_[y] = 1;
        --unfilled_;
    }
    if (unfilled_ == 0) source_.reset();
}

void BitmapData::ShowLater(std::shared_ptr<const Surface> surface, int x, int y) {
    source_ = std::move(surface);
    sourceX_ = x;
    sourceY_ = y;
    std::fill(filled_.begin(), filled_.end(), 0);
    unfilled_ = height;
}

void BitmapData::MarkFilled() {
    std::fill(filled_.begin(), filled_.end(), 1);
    unfilled_ = 0;
    source_.reset();
}

const uint32_t* BitmapData::ReadRow(int y, int x, int count, uint32_t* scratch) const {
    if (filled_[y] != 0) return pixels.get() + static_cast<size_t>(y) * width + x;
    if (source_) return source_->Read(sourceX_ + x, sourceY_ + y, count, scratch);
    FillPixels(scratch, 0, static_cast<size_t>(count));
    return scratch;
}

}  // namespace display
}  // namespace VornWorld
