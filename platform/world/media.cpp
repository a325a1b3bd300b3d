// The virtual media world: its capture devices, the records of what programs asked of
// them, the records of the filter graphs, and the control API over all of it.
#include "world/media.h"

#include <algorithm>
#include <map>
#include <mutex>

namespace VornWorld {
namespace {

class GraphRecordSlot;

struct World {
    std::mutex mutex;
    DeviceId nextId = 1;
    std::vector<std::shared_ptr<DeviceState>> video;  // enumeration order
    std::vector<std::shared_ptr<DeviceState>> audio;
    // Records by device id; replaced (not cleared) on reset so old devices record nowhere.
    std::shared_ptr<std::map<DeviceId, DeviceActivity>> activity =
        std::make_shared<std::map<DeviceId, DeviceActivity>>();
    std::vector<std::shared_ptr<GraphRecordSlot>> graphs;
    bool populated = false;
};

World& TheWorld() {
    static World world;
    return world;
}

std::vector<std::shared_ptr<DeviceState>>& CategoryOf(World& world, MediaKind kind) {
    return kind == MediaKind::Video ? world.video : world.audio;
}

bool IsVideoSubtype(const GUID& subtype) {
    return subtype == MEDIASUBTYPE_I420 || subtype == MEDIASUBTYPE_IYUV ||
           subtype == MEDIASUBTYPE_YV12 || subtype == MEDIASUBTYPE_YUY2 ||
           subtype == MEDIASUBTYPE_RGB24 || subtype == MEDIASUBTYPE_RGB32;
}

bool ValidVideo(const VideoCapability& cap) {
    auto inSize = [](LONG v) { return v >= 1 && v <= 16384; };
    LONG maxWidth = cap.maxWidth == 0 ? cap.width : cap.maxWidth;
    LONG maxHeight = cap.maxHeight == 0 ? cap.height : cap.maxHeight;
    return IsVideoSubtype(cap.subtype) && inSize(cap.width) && inSize(cap.height) &&
           inSize(maxWidth) && inSize(maxHeight) && maxWidth >= cap.width &&
           maxHeight >= cap.height && cap.granularityX >= 1 && cap.granularityY >= 1 &&
           cap.minFrameRate >= 1.0 && cap.maxFrameRate <= 1000.0 &&
           cap.minFrameRate <= cap.maxFrameRate;
}

bool ValidAudio(const AudioCapability& cap) {
    bool bits = cap.bitsPerSample == 8 || cap.bitsPerSample == 16 || cap.bitsPerSample == 24 ||
                cap.bitsPerSample == 32;
    return bits && cap.channels >= 1 && cap.channels <= 16 && cap.sampleRate >= 1000 &&
           cap.sampleRate <= 384000;
}

bool Valid(const DeviceConfig& config) {
    bool crossbarTypes = std::all_of(config.crossbarInputs.begin(), config.crossbarInputs.end(),
                                     [](LONG t) { return t >= 0; }) &&
                         std::all_of(config.crossbarOutputs.begin(), config.crossbarOutputs.end(),
                                     [](LONG t) { return t >= 0; });
    return std::all_of(config.video.begin(), config.video.end(), ValidVideo) &&
           std::all_of(config.audio.begin(), config.audio.end(), ValidAudio) && crossbarTypes &&
           config.toneFrequency > 0.0 && config.toneFrequency < 100000.0 &&
           config.reportedCapsSize >= 0;
}

DeviceId AddLocked(World& world, const DeviceConfig& config, int position) {
    auto device = std::make_shared<DeviceState>(DeviceState{world.nextId++, config});
    auto& list = CategoryOf(world, config.kind);
    size_t at = position < 0 || static_cast<size_t>(position) > list.size()
                    ? list.size()
                    : static_cast<size_t>(position);
    list.insert(list.begin() + static_cast<std::ptrdiff_t>(at), device);
    (*world.activity)[device->id] = DeviceActivity{};
    return device->id;
}

void PopulateLocked(World& world) {
    world.video.clear();
    world.audio.clear();
    world.graphs.clear();
    world.activity = std::make_shared<std::map<DeviceId, DeviceActivity>>();
    AddLocked(world, DefaultCamera(), -1);
    AddLocked(world, DefaultMicrophone(), -1);
    world.populated = true;
}

// Locks the world, filling it with the default devices on first use.
std::unique_lock<std::mutex> Lock(World& world) {
    std::unique_lock<std::mutex> lock(world.mutex);
    if (!world.populated) PopulateLocked(world);
    return lock;
}

template <class Change>
void ChangeActivity(const DeviceState& device, Change change) {
    World& world = TheWorld();
    auto lock = Lock(world);
    auto it = world.activity->find(device.id);
    if (it != world.activity->end()) change(it->second);
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

std::vector<DeviceHandle> DevicesOf(MediaKind kind) {
    World& world = TheWorld();
    auto lock = Lock(world);
    const auto& list = CategoryOf(world, kind);
    return std::vector<DeviceHandle>(list.begin(), list.end());
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

std::shared_ptr<GraphSlot> NewGraphSlot() {
    auto slot = std::make_shared<GraphRecordSlot>();
    World& world = TheWorld();
    auto lock = Lock(world);
    world.graphs.push_back(slot);
    return slot;
}

LeakCounters& Counters() {
    static LeakCounters counters;
    return counters;
}

// ------------------------------------------------------------------------------------
// Control API.

void ResetMedia() {
    World& world = TheWorld();
    std::lock_guard<std::mutex> guard(world.mutex);
    PopulateLocked(world);
}

DeviceConfig DefaultCamera() {
    DeviceConfig config;
    config.kind = MediaKind::Video;
    config.friendlyName = L"Vorn Virtual Camera";
    config.devicePath = L"\\\\?\\vorn#virtual-camera#0";
    for (const GUID* subtype : {&MEDIASUBTYPE_YUY2, &MEDIASUBTYPE_I420, &MEDIASUBTYPE_RGB24}) {
        config.video.push_back({*subtype, 640, 480});
        config.video.push_back({*subtype, 320, 240});
        config.video.push_back({*subtype, 1280, 720});
    }
    config.video.push_back({MEDIASUBTYPE_RGB32, 640, 480});
    return config;
}

DeviceConfig DefaultMicrophone() {
    DeviceConfig config;
    config.kind = MediaKind::Audio;
    config.friendlyName = L"Vorn Virtual Microphone";
    config.clsid = L"{E30629D2-27E5-11CE-875D-00608CB78066}";
    config.audio = {{2, 16, 44100}, {1, 16, 44100}, {2, 16, 48000}, {2, 16, 22050},
                    {1, 16, 16000}, {1, 8, 8000},   {2, 8, 44100}};
    return config;
}

DeviceId AddDevice(const DeviceConfig& config, int position) {
    if (!Valid(config)) return kNoDevice;
    World& world = TheWorld();
    auto lock = Lock(world);
    return AddLocked(world, config, position);
}

bool RemoveDevice(DeviceId id) {
    World& world = TheWorld();
    auto lock = Lock(world);
    for (auto* list : {&world.video, &world.audio}) {
        auto it =
            std::find_if(list->begin(), list->end(), [&](const auto& d) { return d->id == id; });
        if (it != list->end()) {
            list->erase(it);
            return true;
        }
    }
    return false;
}

bool MoveDevice(DeviceId id, int position) {
    World& world = TheWorld();
    auto lock = Lock(world);
    for (auto* list : {&world.video, &world.audio}) {
        auto it =
            std::find_if(list->begin(), list->end(), [&](const auto& d) { return d->id == id; });
        if (it == list->end()) continue;
        auto device = *it;
        list->erase(it);
        size_t at = position < 0 || static_cast<size_t>(position) > list->size()
                        ? list->size()
                        : static_cast<size_t>(position);
        list->insert(list->begin() + static_cast<std::ptrdiff_t>(at), device);
        return true;
    }
    return false;
}

void RemoveAllDevices(MediaKind kind) {
    World& world = TheWorld();
    auto lock = Lock(world);
    CategoryOf(world, kind).clear();
}

std::vector<DeviceId> Devices(MediaKind kind) {
    std::vector<DeviceId> ids;
    for (const auto& device : DevicesOf(kind)) ids.push_back(device->id);
    return ids;
}

DeviceActivity Activity(DeviceId id) {
    World& world = TheWorld();
    auto lock = Lock(world);
    auto it = world.activity->find(id);
    return it == world.activity->end() ? DeviceActivity{} : it->second;
}

std::vector<GraphRecord> Graphs() {
    std::vector<std::shared_ptr<GraphRecordSlot>> slots;
    {
        World& world = TheWorld();
        auto lock = Lock(world);
        slots = world.graphs;
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
