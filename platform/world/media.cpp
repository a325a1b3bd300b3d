// SPDX-License-Identifier: MIT
// The records of what programs asked of the capture devices, the records of the filter
// graphs, and the control API over the world in force.
#include "world/media.h"

#include <map>
#include <mutex>

#include "vorn/control/world.h"
#include "virtual/media_clock.h"

namespace VornWorld {
namespace {

class GraphRecordSlot;

struct Records {
    std::mutex mutex;
    DeviceId nextId = 1;
    // Records by device id; replaced (not cleared) on reset so old devices record nowhere.
    std::shared_ptr<std::map<DeviceId, DeviceActivity>> activity =
        std::make_shared<std::map<DeviceId, DeviceActivity>>();
    std::vector<std::shared_ptr<GraphRecordSlot>> graphs;
};

Records& TheRecords() {
    static Records records;
    return records;
}

template <class Change>
void ChangeActivity(const DeviceState& device, Change change) {
    Records& records = TheRecords();
    std::lock_guard<std::mutex> lock(records.mutex);
    auto it = records.activity->find(device.id);
    if (it != records.activity->end()) change(it->second);
}

class GraphRecordSlot : public GraphSlot {
public:
    void Publish(const GraphRecord& record) override {
        std::lock_guard<std::mutex> guard(mutex_);
        record_ = record;
    }
    GraphRecord Read() {
        std::lock_guard<std::mutex> guard(mutex_);
        return record_;
    }

private:
    std::mutex mutex_;
    GraphRecord record_{true, State_Stopped, {}, {}, {}, OATRUE, 0, 0};
};

}  // namespace

MediaWorld& MediaWorldInForce() {
    static MediaWorld& world =
        CurrentWorld() == WorldKind::Host ? HostMediaWorld() : VirtualMediaWorld();
    return world;
}

std::vector<DeviceHandle> DevicesOf(MediaKind kind) { return MediaWorldInForce().DevicesOf(kind); }

DeviceId NewDeviceId() {
    Records& records = TheRecords();
    std::lock_guard<std::mutex> lock(records.mutex);
    DeviceId id = records.nextId++;
    (*records.activity)[id] = DeviceActivity{};
    return id;
}

void ResetRecords() {
    Records& records = TheRecords();
    std::lock_guard<std::mutex> lock(records.mutex);
    records.graphs.clear();
    records.activity = std::make_shared<std::map<DeviceId, DeviceActivity>>();
}

void RecordBind(const DeviceState& device) {
    ChangeActivity(device, [](DeviceActivity& a) { ++a.binds; });
}
void RecordFormat(const DeviceState& device, const FormatRequest& request) {
    ChangeActivity(device, [&](DeviceActivity& a) { a.formats.push_back(request); });
}
void RecordAllocator(const DeviceState& device, const AllocatorRequest& request) {
    ChangeActivity(device, [&](DeviceActivity& a) { a.allocators.push_back(request); });
}
void RecordRoute(const DeviceState& device, const CrossbarRoute& route) {
    ChangeActivity(device, [&](DeviceActivity& a) { a.routes.push_back(route); });
}
void RecordSamples(const DeviceState& device, unsigned long count) {
    ChangeActivity(device, [&](DeviceActivity& a) { a.samplesDelivered += count; });
}
void RecordAudioLost(const DeviceState& device, REFERENCE_TIME lost) {
    ChangeActivity(device, [&](DeviceActivity& a) {
        a.audioLost += lost;
        ++a.audioGaps;
    });
}

std::shared_ptr<GraphSlot> NewGraphSlot() {
    auto slot = std::make_shared<GraphRecordSlot>();
    Records& records = TheRecords();
    std::lock_guard<std::mutex> lock(records.mutex);
    records.graphs.push_back(slot);
    return slot;
}

LeakCounters& Counters() {
    static LeakCounters counters;
    return counters;
}

// ------------------------------------------------------------------------------------
// Control API.

bool ResetMedia() {
    ResetMediaClock();
    return MediaWorldInForce().Reset();
}
DeviceId AddDevice(const DeviceConfig& config, int position) {
    return MediaWorldInForce().Add(config, position);
}
bool RemoveDevice(DeviceId id) { return MediaWorldInForce().Remove(id); }
bool MoveDevice(DeviceId id, int position) { return MediaWorldInForce().Move(id, position); }
bool RemoveAllDevices(MediaKind kind) { return MediaWorldInForce().RemoveAll(kind); }

std::vector<DeviceId> Devices(MediaKind kind) {
    std::vector<DeviceId> ids;
    for (const auto& device : DevicesOf(kind)) ids.push_back(device->id);
    return ids;
}

DeviceActivity Activity(DeviceId id) {
    Records& records = TheRecords();
    std::lock_guard<std::mutex> lock(records.mutex);
    auto it = records.activity->find(id);
    return it == records.activity->end() ? DeviceActivity{} : it->second;
}

REFERENCE_TIME AudioLost() {
    Records& records = TheRecords();
    std::lock_guard<std::mutex> lock(records.mutex);
    REFERENCE_TIME lost = 0;
    for (const auto& entry : *records.activity) lost += entry.second.audioLost;
    return lost;
}

std::vector<GraphRecord> Graphs() {
    std::vector<std::shared_ptr<GraphRecordSlot>> slots;
    {
        Records& records = TheRecords();
        std::lock_guard<std::mutex> lock(records.mutex);
        slots = records.graphs;
    }
    std::vector<GraphRecord> records;
    for (const auto& slot : slots) records.push_back(slot->Read());
    return records;
}

long LiveComObjects() { return Counters().objects.load(); }
long LiveStreamingThreads() { return Counters().threads.load(); }
long LiveTaskMemBlocks() { return Counters().taskMemory.load(); }
long LiveBstrs() { return Counters().strings.load(); }

}  // namespace VornWorld
