// SPDX-License-Identifier: MIT
// Operation sequences on two TQZMemory stores and two TQZBuffer buffers, each checked after
// every step against a plain byte vector that models it. Data may come from the input or from
// a store's own bytes (the overlapping cases), positions from small to past 4 GiB.
#include <fuzzer/FuzzedDataProvider.h>

#include "fuzz_check.h"

#include <algorithm>
#include <cstdint>
#include <cstdlib>
#include <utility>
#include <vector>

#include "tqzbuffer.h"
#include "tqzmemory.h"

namespace {

using Bytes = std::vector<unsigned char>;
using TQZCapture::TQZBuffer;
using TQZCapture::TQZMemory;

// Appends start at most this far past a store's end, or else just below 4 GiB or at the top of
// the 64-bit range, where they must be refused without allocating.
constexpr unsigned long kMaxGrowth = 1u << 16;
// No store or buffer grows past this (appends of a store's own bytes could double it each step).
constexpr std::size_t kMaxSize = 1u << 22;

void Check(const TQZMemory& store, const Bytes& model) {
    FUZZ_REQUIRE(store.Size() == model.size());
    FUZZ_REQUIRE((store.Bytes() == nullptr) == model.empty());
    if (!model.empty()) FUZZ_REQUIRE(std::equal(model.begin(), model.end(), store.Bytes()));
}

void Check(const TQZBuffer& buffer, const Bytes& model) {
    FUZZ_REQUIRE(buffer.size() == static_cast<int>(model.size()));
    FUZZ_REQUIRE(buffer.empty() == model.empty());
    FUZZ_REQUIRE((buffer.bytes() == nullptr) == model.empty());
    if (!model.empty())
        FUZZ_REQUIRE(std::equal(model.begin(), model.end(),
                                reinterpret_cast<const unsigned char*>(buffer.bytes())));
}

// Data for an append: a slice of the input, or of the target's own bytes (which the call must
// read before it lets them go).
struct Source {
    const unsigned char* data;
    unsigned long length;
    Bytes copy;  // what the call must write
};
Source PickSource(FuzzedDataProvider& in, const unsigned char* own, std::size_t ownSize) {
    Source source{};
    if (ownSize > 0 && in.ConsumeBool()) {
        std::size_t first = in.ConsumeIntegralInRange<std::size_t>(0, ownSize - 1);
        std::size_t length = in.ConsumeIntegralInRange<std::size_t>(1, ownSize - first);
        source.data = own + first;
        source.length = length;
        source.copy.assign(own + first, own + first + length);
        return source;
    }
    source.copy = in.ConsumeBytes<unsigned char>(in.ConsumeIntegralInRange<std::size_t>(0, 64));
    source.data = in.ConsumeBool() ? source.copy.data() : nullptr;  // null, or empty data
    source.length =
        source.data == nullptr ? in.ConsumeIntegral<std::uint8_t>() : source.copy.size();
    return source;
}

void MemoryStep(FuzzedDataProvider& in, TQZMemory (&stores)[2], Bytes (&models)[2]) {
    const int which = in.ConsumeIntegralInRange(0, 1);
    TQZMemory& store = stores[which];
    Bytes& model = models[which];
    switch (in.ConsumeIntegralInRange(0, 7)) {
        case 0: {  // Append
            Source source = PickSource(in, store.Bytes(), store.Size());
            // Ending just past 4 GiB - 1, wrapping around in 64 bits, or near the end.
            const int where = in.ConsumeIntegralInRange(0, 3);
            const unsigned long position =
                where == 0 ? 0x100000000ul - source.length + in.ConsumeIntegralInRange(0, 2)
                : where == 1
                    ? ~0ul - in.ConsumeIntegralInRange(0, 3)
                    : in.ConsumeIntegralInRange<unsigned long>(0, model.size() + kMaxGrowth);
            const bool accepted = source.data != nullptr && source.length > 0 &&
                                  position <= 0xFFFFFFFFul &&
                                  source.length <= 0xFFFFFFFFul - position;
            if (accepted && position + source.length > kMaxSize) break;
            unsigned long result = store.Append(source.data, source.length, position);
            if (accepted) {
                model.resize(position, 0);
                model.insert(model.end(), source.copy.begin(), source.copy.end());
            }
            FUZZ_REQUIRE(result == model.size());
            break;
        }
        case 1:
            store.Clear();
            std::fill(model.begin(), model.end(), 0);
            break;
        case 2:
            store.Free();
            model.clear();
            break;
        case 3: {  // Erase
            unsigned int first = in.ConsumeIntegralInRange<unsigned int>(0, model.size() + 2);
            unsigned int last = in.ConsumeBool()
                                    ? in.ConsumeIntegral<unsigned int>()
                                    : in.ConsumeIntegralInRange<unsigned int>(0, model.size() + 2);
            store.Erase(first, last);
            unsigned int end = std::min<std::size_t>(last, model.size());
            if (first != 0 && last != 0 && first < end)
                model.erase(model.begin() + first, model.begin() + end);
            break;
        }
        case 4: {  // CopyFrom: the other store, itself or null
            int from = in.ConsumeIntegralInRange(0, 2);
            bool result = store.CopyFrom(from == 2 ? nullptr : &stores[from]);
            FUZZ_REQUIRE(result == (from != 2));
            model = from == 2 ? Bytes{} : models[from];
            break;
        }
        case 5: {  // copy construction and assignment
            TQZMemory copy(store);
            Check(copy, model);
            stores[1 - which] = copy;
            models[1 - which] = model;
            break;
        }
        case 6: {  // moves, including onto itself
            TQZMemory moved(std::move(stores[1 - which]));
            Check(moved, models[1 - which]);
            Check(stores[1 - which], {});
            store = std::move(moved);
            model = std::move(models[1 - which]);
            models[1 - which].clear();
            stores[which] = std::move(stores[which]);
            break;
        }
        default:
            break;
    }
}

void BufferStep(FuzzedDataProvider& in, TQZBuffer (&buffers)[2], Bytes (&models)[2]) {
    const int which = in.ConsumeIntegralInRange(0, 1);
    TQZBuffer& buffer = buffers[which];
    Bytes& model = models[which];
    switch (in.ConsumeIntegralInRange(0, 4)) {
        case 0: {  // append
            Source source = PickSource(in, reinterpret_cast<const unsigned char*>(buffer.bytes()),
                                       static_cast<std::size_t>(buffer.size()));
            if (model.size() + source.length > kMaxSize) break;
            buffer.append(reinterpret_cast<const char*>(source.data),
                          static_cast<unsigned int>(source.length));
            if (source.data != nullptr && source.length > 0)
                model.insert(model.end(), source.copy.begin(), source.copy.end());
            break;
        }
        case 1: {  // erase, any count
            int count = in.ConsumeBool() ? in.ConsumeIntegral<int>()
                                         : in.ConsumeIntegralInRange<int>(
                                               -1, static_cast<int>(model.size()) + 1);
            buffer.erase(count);
            if (count > 0)
                model.erase(model.begin(),
                            model.begin() + std::min<std::size_t>(count, model.size()));
            break;
        }
        case 2:
            buffer.clear();
            model.clear();
            break;
        case 3: {  // copies and self-assignment
            TQZBuffer copy(buffer);
            Check(copy, model);
            buffers[1 - which] = copy;
            models[1 - which] = model;
            buffer = buffers[which];
            break;
        }
        default: {  // construction from data
            Bytes bytes =
                in.ConsumeBytes<unsigned char>(in.ConsumeIntegralInRange<std::size_t>(0, 32));
            TQZBuffer made(bytes.empty() ? nullptr : reinterpret_cast<const char*>(bytes.data()),
                           static_cast<unsigned int>(bytes.size()));
            Check(made, bytes);
            buffer = made;
            model = bytes;
            break;
        }
    }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    FuzzedDataProvider in(data, size);
    TQZMemory stores[2];
    Bytes storeModels[2];
    TQZBuffer buffers[2];
    Bytes bufferModels[2];
    for (int steps = 0; steps < 256 && in.remaining_bytes() > 0; ++steps) {
        if (in.ConsumeBool())
            MemoryStep(in, stores, storeModels);
        else
            BufferStep(in, buffers, bufferModels);
        for (int i = 0; i < 2; ++i) {
            Check(stores[i], storeModels[i]);
            Check(buffers[i], bufferModels[i]);
        }
    }
    return 0;
}
