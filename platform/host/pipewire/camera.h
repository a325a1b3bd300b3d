// SPDX-License-Identifier: MIT
// PipeWire's video sources as cameras: every Video/Source node of the daemon of the
// environment, named by its description, read through a VideoStream. Several programs can
// share such a camera, which a V4L2 node opened by one program does not allow.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "host/media/host_device.h"
#include "host/pipewire/video_stream.h"
#include "host/v4l2/v4l2.h"

namespace VornWorld::host {

// A Video/Source node as the registry and its formats describe it.
struct PipeWireNode {
    uint32_t id = 0;
    std::string name;         // node.name
    std::string description;  // node.description, else node.nick, else node.name
    std::string v4l2Path;     // the V4L2 device node it reads (api.v4l2.path), or empty
    // The modes of the formats a VideoStream reads, as RGB24; then those in Motion-JPEG or YUY2
    // once more as I420.
    std::vector<VornWorld::VideoCapability> modes;
    // Its formats as it gives them, in its order, each once: those a stream opened with
    // Wish::native reads (Motion-JPEG, YUY2, NV12, I420 and the RGB forms).
    std::vector<pipewire::ReadableFormat> native;
};

struct PipeWireCameraOptions {
    // How long a stream waits for its next frame (at least four frame intervals) before it
    // ends as stalled, and how long the daemon may take to answer the listing.
    int frameBoundMs = 5000;
    int answerMs = 2000;
};

// The Video/Source nodes of the daemon of the environment, in the order of their ids; empty
// when no daemon answers.
std::vector<PipeWireNode> ListPipeWireNodes(const PipeWireCameraOptions& options = {});

// The nodes as camera devices, each delivering RGB24, and I420 in the modes the node gives in
// Motion-JPEG or YUY2. A device opens a stream on its node when its graph runs; a node gone by
// then fails that run.
std::vector<HostDevice> PipeWireCameras(const std::vector<PipeWireNode>& nodes,
                                        const PipeWireCameraOptions& options = {});

// The cameras of the machine, each listed once: the PipeWire cameras first, then the V4L2
// devices that no PipeWire camera reads already.
std::vector<HostDevice> CamerasOnce(const std::vector<PipeWireNode>& nodes,
                                    std::vector<HostDevice> pipewire, std::vector<HostDevice> v4l2);

// Counts of the process's PipeWire camera streams (the same kinds as a V4L2 stream's).
V4l2Counters& PipeWireCameraCounts();

}  // namespace VornWorld::host
