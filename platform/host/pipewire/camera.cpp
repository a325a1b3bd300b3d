// SPDX-License-Identifier: MIT
// PipeWire cameras: the registry's Video/Source nodes and their formats read in two round
// trips on a thread loop of our own, and a source that hands a VideoStream's newest frames
// to the media graph, converted once, on the graph's thread, into the mode it runs.
#include "host/pipewire/camera.h"

#include <pipewire/pipewire.h>
#include <spa/param/video/raw.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <map>
#include <memory>
#include <set>
#include <vector>

#include "host/pipewire/connection.h"
#include "host/pipewire/frame_convert.h"
#include "host/pipewire/video_stream.h"
#include "world/media.h"
#include "world/media_pixels.h"

namespace VornWorld::host {
namespace {

using Clock = std::chrono::steady_clock;
using VornWorld::MediaSource;
namespace pipewire = VornWorld::host::pipewire;
using pipewire::VideoFrame;
using pipewire::VideoStream;

using pipewire::EventTable;

// ---- Listing -------------------------------------------------------------------------------

struct Listing;

struct BoundNode {
    Listing* listing = nullptr;
    PipeWireNode node;
    // The Motion-JPEG and YUY2 modes once more, as I420: listed after all the others.
    std::vector<VornWorld::VideoCapability> asI420;
    pw_proxy* proxy = nullptr;
    spa_hook listener{};
};

struct Listing {
    pipewire::Connection connection;
    std::map<uint32_t, std::unique_ptr<BoundNode>> nodes;
    int pending = -1;  // the sequence number of the sync waited for
    bool done = false;
    bool failed = false;
};

const char* Prop(const spa_dict* props, const char* key) {
    const char* value = props != nullptr ? spa_dict_lookup(props, key) : nullptr;
    return value != nullptr ? value : "";
}

// `cap` at the end of `modes`, unless a mode of its size and rates is there already.
void AddOnce(std::vector<VornWorld::VideoCapability>& modes,
             const VornWorld::VideoCapability& cap) {
    for (const auto& known : modes) {
        if (known.width == cap.width && known.height == cap.height &&
            known.minFrameRate == cap.minFrameRate && known.maxFrameRate == cap.maxFrameRate) {
            return;
        }
    }
    modes.push_back(cap);
}

// `format` at the end of `formats`, unless it is there already.
void AddNative(std::vector<pipewire::ReadableFormat>& formats,
               const pipewire::ReadableFormat& format) {
    for (const auto& known : formats) {
        if (known.jpeg == format.jpeg && known.raw == format.raw && known.width == format.width &&
            known.height == format.height && known.rateNum == format.rateNum &&
            known.rateDenom == format.rateDenom) {
            return;
        }
    }
    formats.push_back(format);
}

// The rates of a format as a capability's: the node's rate and any slower one down to one a
// second, since the source hands out the newest frame at each grab and a reader at a slower
// rate simply takes fewer of them. A capability of the node's rate alone refused every other
// rate asked (a reader's default of 20 on a node of 30), and the reader was left with a size
// it had not got.
void SetRate(VornWorld::VideoCapability& cap, const pipewire::ReadableFormat& format) {
    if (format.rateDenom != 0) {
        const double rate = static_cast<double>(format.rateNum) / format.rateDenom;
        if (rate > 0 && rate <= 1000) {
            cap.maxFrameRate = rate;
            cap.minFrameRate = std::min(1.0, rate);
        }
    } else {
        cap.minFrameRate = 1;  // a variable rate
    }
}

// One EnumFormat of a node as a capability, when it is a format a VideoStream reads: Motion-JPEG
// or a raw one. Every format arrives as RGB24 (the 32-bit RGB orders too: one mode for each size
// and rate); Motion-JPEG and YUY2 also as I420, as the V4L2 cameras list them; I420 and NV12 as
// I420 alone. Every format the native streams read is kept as the node gives it too.
void AddMode(BoundNode& bound, const spa_pod* param) {
    pipewire::ReadableFormat format;
    if (!pipewire::ParseReadable(param, &format, true)) return;
    AddNative(bound.node.native, format);
    const bool planar = !format.jpeg && (format.raw == SPA_VIDEO_FORMAT_I420 ||
                                         format.raw == SPA_VIDEO_FORMAT_NV12);
    if (planar) {
        // I420 and NV12 are read as I420 alone.
        VornWorld::VideoCapability cap{MEDIASUBTYPE_I420, format.width, format.height};
        SetRate(cap, format);
        if (VornWorld::FrameBytes(MEDIASUBTYPE_I420, format.width, format.height) != 0)
            AddOnce(bound.asI420, cap);
        return;
    }
    if (!pipewire::ParseReadable(param, &format) ||
        VornWorld::FrameBytes(MEDIASUBTYPE_RGB24, format.width, format.height) == 0) {
        return;
    }
    VornWorld::VideoCapability cap{MEDIASUBTYPE_RGB24, format.width, format.height};
    SetRate(cap, format);
    AddOnce(bound.node.modes, cap);
    if (format.jpeg || format.raw == SPA_VIDEO_FORMAT_YUY2) {
        cap.subtype = MEDIASUBTYPE_I420;
        AddOnce(bound.asI420, cap);
    }
}

// The V4L2 device node a PipeWire node reads: api.v4l2.path where the node's own properties
// are seen, else object.path "v4l2:PATH" (which the registry carries).
void ReadV4l2Path(PipeWireNode& node, const spa_dict* props) {
    const std::string path = Prop(props, "api.v4l2.path");
    const std::string objectPath = Prop(props, PW_KEY_OBJECT_PATH);
    if (!path.empty()) {
        node.v4l2Path = path;
    } else if (node.v4l2Path.empty() && objectPath.compare(0, 5, "v4l2:") == 0) {
        node.v4l2Path = objectPath.substr(5);
    }
}

void OnNodeInfo(void* data, const pw_node_info* info) {
    if (info != nullptr) ReadV4l2Path(static_cast<BoundNode*>(data)->node, info->props);
}

void OnNodeParam(void* data, int, uint32_t id, uint32_t, uint32_t, const spa_pod* param) {
    if (id == SPA_PARAM_EnumFormat) AddMode(*static_cast<BoundNode*>(data), param);
}

const pw_node_events& NodeEvents() {
    return EventTable<pw_node_events>(PW_VERSION_NODE_EVENTS, [](pw_node_events& e) {
        e.info = OnNodeInfo;
        e.param = OnNodeParam;
    });
}

void OnGlobal(void* data, uint32_t id, uint32_t, const char* type, uint32_t,
              const spa_dict* props) {
    auto* listing = static_cast<Listing*>(data);
    if (std::strcmp(type, PW_TYPE_INTERFACE_Node) != 0 ||
        std::strcmp(Prop(props, PW_KEY_MEDIA_CLASS), "Video/Source") != 0 ||
        listing->nodes.size() >= 64) {
        return;
    }
    auto bound = std::make_unique<BoundNode>();
    bound->listing = listing;
    PipeWireNode& node = bound->node;
    node.id = id;
    node.name = Prop(props, PW_KEY_NODE_NAME);
    for (const char* key : {PW_KEY_NODE_DESCRIPTION, PW_KEY_NODE_NICK, PW_KEY_NODE_NAME}) {
        node.description = Prop(props, key);
        if (!node.description.empty()) break;
    }
    ReadV4l2Path(node, props);
    bound->proxy = static_cast<pw_proxy*>(pw_registry_bind(
        listing->connection.registry, id, PW_TYPE_INTERFACE_Node, PW_VERSION_NODE, 0));
    if (bound->proxy != nullptr) {
        pw_proxy_add_object_listener(bound->proxy, &bound->listener, &NodeEvents(), bound.get());
        pw_node_enum_params(reinterpret_cast<pw_node*>(bound->proxy), 0, SPA_PARAM_EnumFormat, 0,
                            UINT32_MAX, nullptr);
    }
    listing->nodes[id] = std::move(bound);
}

void OnGlobalRemove(void* data, uint32_t id) {
    auto* listing = static_cast<Listing*>(data);
    auto found = listing->nodes.find(id);
    if (found == listing->nodes.end()) return;
    if (found->second->proxy != nullptr) {
        spa_hook_remove(&found->second->listener);
        pw_proxy_destroy(found->second->proxy);
    }
    listing->nodes.erase(found);
}

void OnDone(void* data, uint32_t id, int seq) {
    auto* listing = static_cast<Listing*>(data);
    if (id == PW_ID_CORE && seq == listing->pending) {
        listing->done = true;
        pw_thread_loop_signal(listing->connection.loop, false);
    }
}

void OnError(void* data, uint32_t id, int, int, const char*) {
    auto* listing = static_cast<Listing*>(data);
    if (id == PW_ID_CORE) {
        listing->failed = true;
        pw_thread_loop_signal(listing->connection.loop, false);
    }
}

const pw_registry_events& RegistryEvents() {
    return EventTable<pw_registry_events>(PW_VERSION_REGISTRY_EVENTS, [](pw_registry_events& e) {
        e.global = OnGlobal;
        e.global_remove = OnGlobalRemove;
    });
}

const pw_core_events& CoreEvents() {
    return EventTable<pw_core_events>(PW_VERSION_CORE_EVENTS, [](pw_core_events& e) {
        e.done = OnDone;
        e.error = OnError;
    });
}

// Loop locked: a round trip to the daemon, waited for up to `ms` milliseconds.
bool RoundTrip(Listing& listing, int ms) {
    listing.done = false;
    listing.pending = pw_core_sync(listing.connection.core, PW_ID_CORE, 0);
    const Clock::time_point deadline = Clock::now() + std::chrono::milliseconds(ms);
    while (!listing.done && !listing.failed) {
        const auto left =
            std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now());
        if (left.count() <= 0) return false;
        timespec until{};
        pw_thread_loop_get_time(listing.connection.loop, &until,
                                static_cast<int64_t>(left.count()) * SPA_NSEC_PER_MSEC);
        pw_thread_loop_timed_wait_full(listing.connection.loop, &until);
    }
    return listing.done && !listing.failed;
}

void Teardown(Listing& listing) {
    listing.connection.Close([&listing] {
        for (auto& entry : listing.nodes) {
            if (entry.second->proxy == nullptr) continue;
            spa_hook_remove(&entry.second->listener);
            pw_proxy_destroy(entry.second->proxy);
        }
        listing.nodes.clear();
    });
}

// ---- Streaming -----------------------------------------------------------------------------

void Report(const std::string& name, const char* what) {
    std::fprintf(stderr, "vornplatform: PipeWire camera %s: %s\n", name.c_str(), what);
}

class PipeWireCameraSource final : public MediaSource {
public:
    PipeWireCameraSource(std::unique_ptr<VideoStream> stream, std::string name,
                         const VornWorld::StreamFormat& format, int frameBoundMs)
        : stream_(std::move(stream)),
          name_(std::move(name)),
          format_(format),
          target_(IsEqualGUID(format.subtype, MEDIASUBTYPE_I420) ? pipewire::Target::I420
                                                                 : pipewire::Target::Rgb24),
          boundMs_(FrameBoundMs(frameBoundMs, format.interval)) {}

    void Begin() override { interrupted_ = false; }

    // Waits for a frame newer than the last one read, in short slices so that an
    // interruption is seen soon, and converts it straight into the graph's buffer; frames of
    // another size than the mode's, and those that do not decode, are dropped.
    Result Read(BYTE* buffer, size_t bytes, uint64_t, REFERENCE_TIME* time) override {
        if (ended_) return Result::Failed;
        const size_t frameBytes = pipewire::TargetBytes(target_, format_.width, format_.height);
        const Clock::time_point deadline = Clock::now() + std::chrono::milliseconds(boundMs_);
        while (!interrupted_) {
            std::shared_ptr<const VideoFrame> frame = stream_->WaitNewer(last_, 50);
            const bool fresh = frame != nullptr && frame->sequence > last_;
            if (!fresh && stream_->Ended()) {
                ++PipeWireCameraCounts().lost;
                return End("went away");
            }
            if (!fresh && Clock::now() >= deadline) {
                ++PipeWireCameraCounts().stalls;
                return End("delivered no frame within its bound");
            }
            if (!fresh) continue;
            last_ = frame->sequence;
            if (frame->width != format_.width || frame->height != format_.height ||
                frameBytes == 0 || bytes < frameBytes) {
                ++PipeWireCameraCounts().dropped;
                continue;
            }
            if (!converter_.Convert(frame->Raw(), target_, buffer)) {
                ++PipeWireCameraCounts().dropped;
                continue;
            }
            const Clock::time_point now = Clock::now();
            if (first_ == Clock::time_point{}) first_ = now;
            *time =
                std::chrono::duration_cast<std::chrono::nanoseconds>(now - first_).count() / 100;
            ++PipeWireCameraCounts().delivered;
            return Result::Filled;
        }
        return Result::Interrupted;
    }

    void Interrupt() override { interrupted_ = true; }

    // The stream runs on between grabs: a grab takes the newest frame there is.
    bool Continuous() const override { return true; }

private:
    Result End(const char* what) {
        Report(name_, what);
        ended_ = true;
        return Result::Failed;
    }

    std::unique_ptr<VideoStream> stream_;
    const std::string name_;
    const VornWorld::StreamFormat format_;
    const pipewire::Target target_;
    pipewire::FrameConverter converter_;
    const int boundMs_;
    std::atomic<bool> interrupted_{false};
    bool ended_ = false;
    uint64_t last_ = 0;
    Clock::time_point first_{};
};

}  // namespace

std::vector<PipeWireNode> ListPipeWireNodes(const PipeWireCameraOptions& options) {
    pipewire::InitOnce();
    Listing listing;
    std::vector<PipeWireNode> found;
    if (listing.connection.Open("vmc-cameras", -1, CoreEvents(), RegistryEvents(), &listing)) {
        // The first trip brings the nodes (and sends the format queries), the second their
        // formats.
        if (RoundTrip(listing, options.answerMs) && RoundTrip(listing, options.answerMs)) {
            for (auto& entry : listing.nodes) {
                found.push_back(entry.second->node);
                const auto& asI420 = entry.second->asI420;
                found.back().modes.insert(found.back().modes.end(), asI420.begin(), asI420.end());
            }
        }
        pw_thread_loop_unlock(listing.connection.loop);
    }
    Teardown(listing);
    return found;
}

std::vector<HostDevice> PipeWireCameras(const std::vector<PipeWireNode>& nodes,
                                        const PipeWireCameraOptions& options) {
    // A node is known by its name, which stays when the node comes back; by its id as well
    // where several share the name.
    std::map<std::string, int> named;
    for (const PipeWireNode& node : nodes) ++named[node.name];
    std::vector<HostDevice> devices;
    for (const PipeWireNode& node : nodes) {
        if (node.modes.empty()) continue;  // nothing we can read
        HostDevice device;
        device.key = "pipewire:" + node.name;
        if (node.name.empty() || named[node.name] > 1) device.key += "#" + std::to_string(node.id);
        VornWorld::DeviceConfig& config = device.config;
        config.kind = VornWorld::MediaKind::Video;
        config.friendlyName = WideFromUtf8(node.description);
        config.devicePath = WideFromUtf8(device.key);
        config.video = node.modes;
        const uint32_t id = node.id;
        const std::string name = node.name;
        device.open = [id, name, options](
                          const VornWorld::StreamFormat& format) -> std::unique_ptr<MediaSource> {
            if (format.audio) return nullptr;
            // The node must still be the one listed: a stream aimed at an id that is gone
            // could be linked to another camera.
            bool there = false;
            for (const PipeWireNode& now : ListPipeWireNodes(options))
                there = there || (now.id == id && now.name == name);
            if (!there) {
                Report(name, "cannot be opened (gone: it went away)");
                return nullptr;
            }
            VideoStream::Wish wish;
            wish.width = static_cast<int>(format.width);
            wish.height = static_cast<int>(format.height);
            wish.rate = format.interval > 0 ? static_cast<int>(10000000 / format.interval) : 30;
            wish.role = "Camera";
            wish.yuvOnly = IsEqualGUID(format.subtype, MEDIASUBTYPE_I420);
            std::unique_ptr<VideoStream> stream = VideoStream::Open(-1, id, "vmc-camera", wish);
            if (stream == nullptr) {
                Report(name, "cannot be opened (the daemon did not answer)");
                return nullptr;
            }
            return std::make_unique<PipeWireCameraSource>(std::move(stream), name, format,
                                                          options.frameBoundMs);
        };
        devices.push_back(std::move(device));
    }
    return devices;
}

std::vector<HostDevice> CamerasOnce(const std::vector<PipeWireNode>& nodes,
                                    std::vector<HostDevice> pipewire,
                                    std::vector<HostDevice> v4l2) {
    // The V4L2 nodes a listed PipeWire camera reads; a node we cannot read hides nothing.
    std::set<std::string> shared;
    for (const PipeWireNode& node : nodes) {
        if (!node.v4l2Path.empty() && !node.modes.empty()) shared.insert("v4l2:" + node.v4l2Path);
    }
    std::vector<HostDevice> cameras = std::move(pipewire);
    for (HostDevice& device : v4l2) {
        if (shared.count(device.key) == 0) cameras.push_back(std::move(device));
    }
    return cameras;
}

V4l2Counters& PipeWireCameraCounts() {
    static V4l2Counters counters;
    return counters;
}

}  // namespace VornWorld::host
