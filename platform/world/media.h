// SPDX-License-Identifier: MIT
// The virtual media world as the media-graph services see it: devices with their records,
// graph records, and the leak counters.
#pragma once

#include <atomic>
#include <memory>
#include <vector>

#include "vorn/control/media.h"
#include "world/media_source.h"

namespace VornWorld {

// A device of a world; shared by the world and the objects made from it, so a filter
// outlives the device's removal.
struct DeviceState {
    DeviceId id;
    DeviceConfig config;  // never changed after the device was made
    SourceOpener open;    // its samples
};
using DeviceHandle = std::shared_ptr<const DeviceState>;

// The devices of one world, and whether (and how) they can be shaped. One is in force for
// the whole process (MediaWorldInForce); the control API and the enumerator ask it.
class MediaWorld {
public:
    virtual ~MediaWorld() = default;
    // Snapshot of a category in enumeration order.
    virtual std::vector<DeviceHandle> DevicesOf(MediaKind kind) = 0;
    // The shaping calls of the control API; false (kNoDevice) where the world has none.
    virtual bool Reset() = 0;
    virtual DeviceId Add(const DeviceConfig& config, int position) = 0;
    virtual bool Remove(DeviceId id) = 0;
    virtual bool Move(DeviceId id, int position) = 0;
    virtual bool RemoveAll(MediaKind kind) = 0;
    // A device whose samples come from `open` instead of the world's own (the tests put the
    // host's devices, made over a device of data, into the virtual world); kNoDevice where
    // the world has none.
    virtual DeviceId AddWithSource(const DeviceConfig&, SourceOpener, int) { return kNoDevice; }
};
MediaWorld& VirtualMediaWorld();
MediaWorld& HostMediaWorld();
MediaWorld& MediaWorldInForce();

// Snapshot of a category of the world in force, in enumeration order.
std::vector<DeviceHandle> DevicesOf(MediaKind kind);

// A video capability's bounds: its largest size, and its frame intervals (100 ns units) from
// the fastest rate to the slowest.
LONG MaxWidth(const VideoCapability& cap);
LONG MaxHeight(const VideoCapability& cap);
REFERENCE_TIME ShortestInterval(const VideoCapability& cap);
REFERENCE_TIME LongestInterval(const VideoCapability& cap);
// The first capability that takes `subtype` at width x height (on its steps) and at `interval`
// (0: at any); -1 when none does.
int FittingCapability(const std::vector<VideoCapability>& caps, const GUID& subtype, LONG width,
                      LONG height, REFERENCE_TIME interval);

// An audio capability at its largest: each maximum, or the value itself where it has none.
AudioCapability WidestOf(const AudioCapability& cap);

// A new device id, with an empty activity record.
DeviceId NewDeviceId();
// Forgets every record and graph of the past (ResetMedia of the virtual world).
void ResetRecords();

// Records of what was asked of a device (ignored when the records were reset since).
void RecordBind(const DeviceState& device);
void RecordFormat(const DeviceState& device, const FormatRequest& request);
void RecordAllocator(const DeviceState& device, const AllocatorRequest& request);
void RecordRoute(const DeviceState& device, const CrossbarRoute& route);
void RecordSamples(const DeviceState& device, unsigned long count);
// A gap of `lost` (100 ns units) in an audio device's stream.
void RecordAudioLost(const DeviceState& device, REFERENCE_TIME lost);

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
