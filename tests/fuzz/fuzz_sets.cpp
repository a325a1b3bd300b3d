// SPDX-License-Identifier: MIT
// Operation sequences on the bounded queues (TQZPacketSet, TQZFrameSet) and on two device
// sets (a screen and a media-graph device class), each checked after every step against a
// plain model: a deque of what was pushed, the slots' last contents, a list of descriptions.
#include <fuzzer/FuzzedDataProvider.h>

#include "fuzz_check.h"

#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <deque>
#include <string>
#include <utility>
#include <vector>

#include "tqzcameradeviceset.h"
#include "tqzdesktopdeviceset.h"
#include "tqzframeset.h"
#include "tqzpacketset.h"

namespace {

using namespace TQZCapture;
using Bytes = std::vector<unsigned char>;

// Bounds: small ones that fill up, and the extremes (above 32 bits they are capped).
unsigned long PickBound(FuzzedDataProvider& in) {
    const int kind = in.ConsumeIntegralInRange(0, 2);
    if (kind == 0) return in.ConsumeIntegralInRange<unsigned long>(0, 6);
    return (kind == 1 ? 0xFFFFFFFFul : ~0ul - 1) + in.ConsumeIntegralInRange<unsigned long>(0, 1);
}
template <class Set>
void SelfAssign(Set& set) {
    Set& same = set;
    set = same;
}

unsigned long Capped(unsigned long bound) { return bound > 0xFFFFFFFFul ? 0xFFFFFFFFul : bound; }

// ---------------------------------------------------------------------------------------
// Packets: bytes, a name, the time stamp and one Extra value are enough to tell them apart.
struct PacketModel {
    Bytes bytes;
    std::string name;
    double time = 0;
    double extra = 0;
};

PacketModel PickPacket(FuzzedDataProvider& in) {
    PacketModel model;
    model.bytes = in.ConsumeBytes<unsigned char>(in.ConsumeIntegralInRange<std::size_t>(0, 48));
    model.name = in.ConsumeRandomLengthString(16);
    model.time = in.ConsumeIntegral<std::uint32_t>();
    model.extra = in.ConsumeIntegralInRange(-1000, 1000);
    return model;
}

void Fill(TQZPacket& packet, const PacketModel& model) {
    if (!model.bytes.empty()) packet.Append(model.bytes.data(), model.bytes.size(), 0);
    packet.Name = model.name;
    packet.TimeStamp = model.time;
    packet.Extra[3] = model.extra;
}

void Check(const TQZPacket* packet, const PacketModel& model) {
    FUZZ_REQUIRE(packet != nullptr);
    FUZZ_REQUIRE(packet->Size() == model.bytes.size());
    if (!model.bytes.empty())
        FUZZ_REQUIRE(std::memcmp(packet->Bytes(), model.bytes.data(), model.bytes.size()) == 0);
    FUZZ_REQUIRE(packet->Name == model.name && packet->TimeStamp == model.time &&
                 packet->Extra[3] == model.extra);
}

struct PacketSetModel {
    unsigned long bound = 100;
    std::deque<PacketModel> queue;
    PacketModel getSlot, querySlot;
};

// A new bound (stored packets stay, even above it), or the queue emptied.
template <class Set, class Model>
void BoundOrFree(FuzzedDataProvider& in, Set& set, Model& model) {
    if (in.ConsumeBool()) {
        model.bound = Capped(PickBound(in));
        set.SetTheMaxCount(model.bound);
    } else {
        set.Free();
        model.queue.clear();
    }
}

// Get takes out the newest packet, Query the oldest; on an empty queue the slot keeps what it
// held.
void Take(const TQZPacket* slot, bool oldest, PacketSetModel& model) {
    PacketModel& kept = oldest ? model.querySlot : model.getSlot;
    if (!model.queue.empty()) {
        kept = oldest ? model.queue.front() : model.queue.back();
        oldest ? model.queue.pop_front() : model.queue.pop_back();
    }
    Check(slot, kept);
}

void PacketStep(FuzzedDataProvider& in, TQZPacketSet& set, PacketSetModel& model) {
    switch (in.ConsumeIntegralInRange(0, 6)) {
        case 0:
        case 1: {  // Push, more often than the rest
            if (in.ConsumeIntegralInRange(0, 7) == 0) {
                FUZZ_REQUIRE(set.Push(nullptr) == model.queue.size());
                break;
            }
            PacketModel pushed = PickPacket(in);
            TQZPacket packet;
            Fill(packet, pushed);
            if (model.queue.size() < model.bound) model.queue.push_back(pushed);
            FUZZ_REQUIRE(set.Push(&packet) == model.queue.size());
            Check(&packet, pushed);  // the caller keeps its own
            break;
        }
        case 2:
            Take(set.Get(), false, model);
            break;
        case 3:
            Take(set.Query(), true, model);
            break;
        case 4:
            BoundOrFree(in, set, model);
            break;
        case 5: {  // a copy takes everything, slots included, and lives on its own
            TQZPacketSet copy(set);
            FUZZ_REQUIRE(copy.Count() == model.queue.size() &&
                         copy.GetTheMaxCount() == model.bound);
            set = copy;
            SelfAssign(set);
            Check(copy.Get(), model.queue.empty() ? model.getSlot : model.queue.back());
            break;
        }
        default: {  // a fresh set assigned over this one
            TQZPacketSet fresh(PickBound(in));
            set = fresh;
            model = PacketSetModel{};
            model.bound = fresh.GetTheMaxCount();
            break;
        }
    }
    FUZZ_REQUIRE(set.Count() == model.queue.size() && set.GetTheMaxCount() == model.bound);
}

// ---------------------------------------------------------------------------------------
// Frames carry descriptions only.
struct Description {
    std::string name;
    unsigned int index = 0;
    TQZDataType type = DataTypeUnknown;
};

Description PickDescription(FuzzedDataProvider& in) {
    Description d;
    d.name = in.ConsumeRandomLengthString(16);
    d.index = in.ConsumeIntegralInRange<unsigned int>(0, 8);
    d.type = static_cast<TQZDataType>(in.ConsumeIntegralInRange(0, 9));
    return d;
}

template <class T>
void Describe(T& target, const Description& d) {
    target.Name = d.name;
    target.Index = d.index;
    target.DataType = d.type;
}

template <class T>
bool Same(const T* item, const Description& d) {
    return item != nullptr && item->Name == d.name && item->Index == d.index &&
           item->DataType == d.type;
}

struct FrameSetModel {
    unsigned long bound = 2048;
    std::deque<Description> queue;
    Description querySlot;
};

void FrameStep(FuzzedDataProvider& in, TQZFrameSet& set, FrameSetModel& model) {
    switch (in.ConsumeIntegralInRange(0, 5)) {
        case 0:
        case 1: {
            Description d = PickDescription(in);
            Bytes bytes =
                in.ConsumeBytes<unsigned char>(in.ConsumeIntegralInRange<std::size_t>(0, 16));
            TQZFrame frame(bytes.empty() ? nullptr : reinterpret_cast<const char*>(bytes.data()),
                           static_cast<unsigned int>(bytes.size()));
            Describe(frame, d);
            if (model.queue.size() < model.bound) {
                model.queue.push_back(d);
                model.querySlot = d;
            }
            FUZZ_REQUIRE(set.Push(&frame) == model.queue.size());
            break;
        }
        case 2: {  // Get: always the empty slot
            TQZFrame* slot = set.Get();
            FUZZ_REQUIRE(Same(slot, Description{}) && slot->empty());
            break;
        }
        case 3: {
            TQZFrame* slot = set.Query();
            if (!model.queue.empty()) {
                model.querySlot = model.queue.front();
                model.queue.pop_front();
            }
            FUZZ_REQUIRE(Same(slot, model.querySlot) && slot->empty());
            break;
        }
        case 4:
            BoundOrFree(in, set, model);
            break;
        default: {
            TQZFrameSet copy(set);
            FUZZ_REQUIRE(
                copy.Count() == model.queue.size() &&
                Same(copy.Query(), model.queue.empty() ? model.querySlot : model.queue.front()));
            SelfAssign(set);
            break;
        }
    }
    FUZZ_REQUIRE(set.Count() == model.queue.size() && set.GetTheMaxCount() == model.bound);
}

// ---------------------------------------------------------------------------------------
// Device sets: a list of descriptions; lookups find the first match.
template <class Device>
void DeviceStep(FuzzedDataProvider& in, TQZDeviceSet<Device>& set,
                std::vector<Description>& model) {
    auto firstWhere = [&](auto match) -> const Description* {
        for (const Description& d : model)
            if (match(d)) return &d;
        return nullptr;
    };
    auto sameAs = [](Device* found, const Description* d) {
        return d == nullptr ? found == nullptr : Same(found, *d);
    };
    switch (in.ConsumeIntegralInRange(0, 6)) {
        case 0:
        case 1: {
            if (in.ConsumeIntegralInRange(0, 7) == 0) {
                FUZZ_REQUIRE(set.Push(nullptr) == model.size());
                break;
            }
            if (model.size() >= 32) break;
            Device device;
            Description d = PickDescription(in);
            Describe(device, d);
            model.push_back(d);
            FUZZ_REQUIRE(set.Push(&device) == model.size());
            break;
        }
        case 2: {
            unsigned int index = in.ConsumeBool() ? in.ConsumeIntegral<unsigned int>()
                                                  : in.ConsumeIntegralInRange<unsigned int>(0, 8);
            const Description* expected =
                index >= model.size()
                    ? nullptr
                    : firstWhere([&](const Description& d) { return d.index == index; });
            FUZZ_REQUIRE(sameAs(set.GetByIndex(index), expected));
            break;
        }
        case 3: {
            std::string name =
                in.ConsumeBool() && !model.empty()
                    ? model[in.ConsumeIntegralInRange<std::size_t>(0, model.size() - 1)].name
                    : in.ConsumeRandomLengthString(16);
            const Description* expected =
                name.empty() ? nullptr
                             : firstWhere([&](const Description& d) { return d.name == name; });
            FUZZ_REQUIRE(sameAs(set.GetByName(name), expected));
            FUZZ_REQUIRE(sameAs(set.GetByCaption(name), expected));
            break;
        }
        case 4:
            set.Free();
            model.clear();
            break;
        case 5: {
            TQZDeviceSet<Device> copy(set);
            FUZZ_REQUIRE(copy.Count() == model.size());
            set = copy;
            SelfAssign(set);
            break;
        }
        default: {
            std::list<Device*>* list = set.GetList();
            FUZZ_REQUIRE(list != nullptr && list->size() == model.size());
            std::size_t i = 0;
            for (Device* device : *list) FUZZ_REQUIRE(Same(device, model[i++]));
            break;
        }
    }
    FUZZ_REQUIRE(set.Count() == model.size());
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    FuzzedDataProvider in(data, size);
    const unsigned long packetBound = PickBound(in);
    TQZPacketSet packets(packetBound);
    PacketSetModel packetModel;
    packetModel.bound = Capped(packetBound);
    const unsigned long frameBound = PickBound(in);
    TQZFrameSet frames(frameBound);
    FrameSetModel frameModel;
    frameModel.bound = Capped(frameBound);
    TQZDesktopDeviceSet desktops;
    std::vector<Description> desktopModel;
    TQZCameraDeviceSet cameras;
    std::vector<Description> cameraModel;
    for (int steps = 0; steps < 256 && in.remaining_bytes() > 0; ++steps) {
        switch (in.ConsumeIntegralInRange(0, 3)) {
            case 0:
                PacketStep(in, packets, packetModel);
                break;
            case 1:
                FrameStep(in, frames, frameModel);
                break;
            case 2:
                DeviceStep(in, desktops, desktopModel);
                break;
            default:
                DeviceStep(in, cameras, cameraModel);
                break;
        }
    }
    return 0;
}
