// SPDX-License-Identifier: MIT
#include "camerasource.h"

#include <algorithm>
#include <map>

#include "host/pipewire/camera.h"
#include "host/pipewire/video_stream.h"
#include "host/v4l2/v4l2.h"
#include "streamframe.h"
#include "v4l2camera.h"
#include "vorn/control/world.h"

namespace VornCapture {

namespace {

namespace host = VornWorld::host;
namespace pipewire = VornWorld::host::pipewire;

}  // namespace

struct CameraSource::State {
    bool found = false;
    host::PipeWireNode node;
    std::vector<CameraMode> modes;
    CameraMode mode;
    std::unique_ptr<pipewire::VideoStream> stream;
    std::uint64_t lastSequence = 0;
    std::uint64_t taken = 0;
    std::unique_ptr<V4l2Camera> v4l2;  // a V4L2 camera no PipeWire node reads: all goes there
};

CameraSource::CameraSource() : state_(std::make_unique<State>()) {}
CameraSource::~CameraSource() = default;

bool CameraSource::Find(const Selector& selector, std::string& error) {
    Close();
    *state_ = State{};
    if (VornWorld::CurrentWorld() != VornWorld::WorldKind::Host) {
        error = "the cameras of the host world only";
        return false;
    }
    // The cameras as the library lists them: PipeWire's nodes that have modes, in order, then
    // the V4L2 devices none of them reads.
    const std::vector<host::PipeWireNode> nodes = host::ListPipeWireNodes();
    const std::vector<host::HostDevice> pipewireCameras = host::PipeWireCameras(nodes);
    std::map<std::string, const host::PipeWireNode*> byKey;
    size_t next = 0;
    for (const host::PipeWireNode& node : nodes) {
        if (node.modes.empty() || next >= pipewireCameras.size()) continue;
        byKey[pipewireCameras[next++].key] = &node;
    }
    const std::vector<host::HostDevice> cameras =
        host::CamerasOnce(nodes, pipewireCameras, host::ListV4l2Devices());
    const host::PipeWireNode* chosen = nullptr;
    bool listed = false;
    size_t listedAt = 0;
    for (size_t i = 0; i < cameras.size() && !listed; ++i) {
        const auto known = byKey.find(cameras[i].key);
        const host::PipeWireNode* node = known != byKey.end() ? known->second : nullptr;
        listed = selector.byName ? (node != nullptr ? node->description == selector.name
                                                    : cameras[i].config.friendlyName ==
                                                          host::WideFromUtf8(selector.name))
                                 : i == selector.index;
        if (listed) {
            chosen = node;
            listedAt = i;
        }
    }
    if (!listed) {
        error = "no such camera: " + Describe(selector);
        return false;
    }
    if (chosen == nullptr) {
        const std::string prefix = "v4l2:";
        const std::string& key = cameras[listedAt].key;
        if (key.compare(0, prefix.size(), prefix) != 0) {
            error = "the camera " + Describe(selector) + " is no camera of PipeWire or V4L2";
            return false;
        }
        state_->v4l2 = std::make_unique<V4l2Camera>();
        if (!state_->v4l2->Find(host::MachineV4l2(), key.substr(prefix.size()), error)) {
            state_->v4l2.reset();
            return false;
        }
        state_->modes = state_->v4l2->Modes();
        state_->found = true;
        return true;
    }
    state_->node = *chosen;
    for (const pipewire::ReadableFormat& readable : chosen->native) {
        CameraMode mode;
        pipewire::RawFormat raw;
        if (!pipewire::RawFormatOf(readable, &raw, true) || !FormatOfStream(raw, &mode.format))
            continue;
        mode.width = static_cast<std::uint32_t>(readable.width);
        mode.height = static_cast<std::uint32_t>(readable.height);
        mode.rateNum = readable.rateNum;
        mode.rateDenom = readable.rateDenom;
        state_->modes.push_back(mode);
    }
    if (state_->modes.empty()) {
        error = "the camera " + Describe(selector) + " gives no format read as it is";
        return false;
    }
    state_->found = true;
    return true;
}

const std::vector<CameraMode>& CameraSource::Modes() const { return state_->modes; }

std::string CameraSource::Name() const {
    return state_->v4l2 != nullptr ? state_->v4l2->Name() : state_->node.description;
}

bool CameraSource::Open(const CameraMode& mode, std::string& error) {
    Close();
    if (!state_->found) {
        error = "no camera found";
        return false;
    }
    if (state_->v4l2 != nullptr) {
        // A face may hold frames for a while (a queue, an encoder looking ahead): one buffer
        // always stays with the driver, so that the camera never stops for want of one.
        state_->v4l2->KeepWithDriver(1);
        return state_->v4l2->Open(mode, error);
    }
    pipewire::VideoStream::Wish wish;
    wish.width = static_cast<int>(mode.width);
    wish.height = static_cast<int>(mode.height);
    wish.rate = mode.rateDenom != 0 ? static_cast<int>(std::max<std::uint32_t>(
                                          1, (mode.rateNum + mode.rateDenom / 2) / mode.rateDenom))
                                    : 30;
    wish.role = "Camera";
    wish.native = true;
    wish.pinned = true;
    wish.only = StreamFormatOf(mode.format);
    state_->stream = pipewire::VideoStream::Open(-1, state_->node.id, "vmc-camera", wish);
    if (state_->stream == nullptr) {
        error = "the PipeWire daemon did not answer";
        return false;
    }
    state_->mode = mode;
    state_->lastSequence = 0;
    state_->taken = 0;
    return true;
}

bool CameraSource::Take(VideoFrame& frame, int waitMs) {
    State& s = *state_;
    if (s.v4l2 != nullptr) return s.v4l2->Take(frame, waitMs);
    if (s.stream == nullptr) return false;
    const std::shared_ptr<const pipewire::VideoFrame> newest =
        s.stream->WaitNewer(s.lastSequence, waitMs);
    if (newest == nullptr || newest->sequence <= s.lastSequence) return false;
    s.lastSequence = newest->sequence;
    // The stream's frame is the lease: it is not written again while held.
    VideoFrame taken;
    if (!LendStreamFrame(newest, taken) || taken.format != s.mode.format ||
        taken.width != s.mode.width || taken.height != s.mode.height) {
        return false;
    }
    ++s.taken;
    frame = std::move(taken);
    return true;
}

bool CameraSource::Ended() const {
    if (state_->v4l2 != nullptr) return state_->v4l2->Ended();
    return state_->stream == nullptr || state_->stream->Ended();
}

std::uint64_t CameraSource::Lost() const {
    if (state_->v4l2 != nullptr) return state_->v4l2->Lost();
    return state_->lastSequence > state_->taken ? state_->lastSequence - state_->taken : 0;
}

void CameraSource::Close() {
    state_->stream.reset();
    if (state_->v4l2 != nullptr) state_->v4l2->Close();
}

}  // namespace VornCapture
