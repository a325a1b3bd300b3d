// The virtual media world as the media-graph services see it: devices with their records,
// graph records, and the leak counters.
#pragma once

#include <atomic>
#include <memory>
#include <vector>

#include "vorn/control/media.h"

namespace VornWorld {

// A device as added by the control API; shared by the world and the objects made from it,
// so a filter outlives the device's removal.
struct DeviceState {
    DeviceId id;
    DeviceConfig config;  // never changed after AddDevice
};
using DeviceHandle = std::shared_ptr<const DeviceState>;

// Snapshot of a category in enumeration order.
std::vector<DeviceHandle> DevicesOf(MediaKind kind);

// Records of what was asked of a device (ignored when the records were reset since).
void RecordBind(const DeviceState& device);
void RecordFormat(const DeviceState& device, const FormatRequest& request);
void RecordAllocator(const DeviceState& device, const AllocatorRequest& request);
void RecordRoute(const DeviceState& device, const CrossbarRoute& route);
void RecordSamples(const DeviceState& device, unsigned long count);

// A graph's record: the graph replaces it whenever it changes.
class GraphSlot {
public:
    virtual ~GraphSlot() = default;
    virtual void Publish(const GraphRecord& record) = 0;
};
std::shared_ptr<GraphSlot> NewGraphSlot();

// Leak counters, changed by the services.
struct LeakCounters {
    std::atomic<long> objects{0};
    std::atomic<long> threads{0};
    std::atomic<long> taskMemory{0};
    std::atomic<long> strings{0};
};
LeakCounters& Counters();

}  // namespace VornWorld
