// SPDX-License-Identifier: MIT
// What the host world's suites (tests/host, tests/host_media, tests/portal) share: a device
// opened and closed as a host does it.
#pragma once

#include "tqzdevice.h"

namespace vmc_test {

// Opens `device` as a host opens it (the hooks around Open, `callback` handed to the first: an
// ICaptureVideoCallBack* or ICaptureAudioCallBack*, cast before it becomes void*), and closes it
// the same way when this goes, unless closed before.
class HostOpened {
public:
    explicit HostOpened(TQZCapture::TQZDevice& device, void* callback = nullptr) : device_(device) {
        device_.OnOpenBefore(callback);
        open_ = device_.Open();
        device_.OnOpenAFter();
    }
    ~HostOpened() { Close(); }
    HostOpened(const HostOpened&) = delete;
    HostOpened& operator=(const HostOpened&) = delete;

    bool Close() {
        if (!open_) return true;
        open_ = false;
        device_.OnCloseBefore();
        const bool closed = device_.Close();
        device_.OnCloseAFter();
        return closed;
    }
    bool Opened() const { return open_; }

private:
    TQZCapture::TQZDevice& device_;
    bool open_ = false;
};

}  // namespace vmc_test
