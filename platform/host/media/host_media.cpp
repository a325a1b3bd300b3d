// SPDX-License-Identifier: MIT
// The host world's capture devices: the sound server's sources and the cameras (PipeWire's
// video sources, then the V4L2 devices no PipeWire camera reads already), asked
// afresh at every enumeration. A device keeps its id for as long as the process runs, so the
// records of what programs asked of it stay together. Nothing here can be shaped.
#include <algorithm>
#include <map>
#include <mutex>

#include "host/media/host_device.h"
#include "host/pipewire/camera.h"
#include "host/pulse/pulse.h"
#include "host/v4l2/v4l2.h"
#include "vorn/win/kernel.h"

namespace VornWorld::host {
namespace {

using VornWorld::DeviceHandle;
using VornWorld::DeviceId;
using VornWorld::MediaKind;

class HostMedia final : public VornWorld::MediaWorld {
public:
    explicit HostMedia(DeviceLister lister) : lister_(std::move(lister)) {}

    std::vector<DeviceHandle> DevicesOf(MediaKind kind) override {
        std::vector<HostDevice> found = lister_(kind);
        std::vector<DeviceHandle> devices;
        for (HostDevice& host : found) {
            auto device = std::make_shared<VornWorld::DeviceState>();
            device->id = IdOf(host.key);
            device->config = std::move(host.config);
            device->open = std::move(host.open);
            devices.push_back(std::move(device));
        }
        return devices;
    }

    bool Reset() override { return false; }
    DeviceId Add(const VornWorld::DeviceConfig&, int) override { return VornWorld::kNoDevice; }
    bool Remove(DeviceId) override { return false; }
    bool Move(DeviceId, int) override { return false; }
    bool RemoveAll(MediaKind) override { return false; }

private:
    DeviceId IdOf(const std::string& key) {
        std::lock_guard<std::mutex> lock(mutex_);
        auto found = ids_.find(key);
        if (found != ids_.end()) return found->second;
        DeviceId id = VornWorld::NewDeviceId();
        ids_.emplace(key, id);
        return id;
    }

    const DeviceLister lister_;
    std::mutex mutex_;
    std::map<std::string, DeviceId> ids_;
};

}  // namespace

std::unique_ptr<VornWorld::MediaWorld> NewHostMedia(DeviceLister lister) {
    return std::make_unique<HostMedia>(std::move(lister));
}

std::wstring WideFromUtf8(const std::string& text) {
    if (text.empty()) return {};
    int length = static_cast<int>(std::min<size_t>(text.size(), 1 << 20));
    int wide = MultiByteToWideChar(CP_UTF8, 0, text.data(), length, nullptr, 0);
    if (wide <= 0) return {};
    std::wstring result(static_cast<size_t>(wide), L'\0');
    MultiByteToWideChar(CP_UTF8, 0, text.data(), length, &result[0], wide);
    return result;
}

}  // namespace VornWorld::host

namespace VornWorld {

MediaWorld& HostMediaWorld() {
    static const std::unique_ptr<MediaWorld> world =
        VornWorld::host::NewHostMedia([](MediaKind kind) {
            if (kind == MediaKind::Audio) return VornWorld::host::ListPulseSources();
            const std::vector<VornWorld::host::PipeWireNode> nodes =
                VornWorld::host::ListPipeWireNodes();
            return VornWorld::host::CamerasOnce(nodes, VornWorld::host::PipeWireCameras(nodes),
                                                VornWorld::host::ListV4l2Devices());
        });
    return *world;
}

}  // namespace VornWorld
