// What both source elements do with a device of the library: find it by kind and index or name
// (as vmcapture does), open it with the negotiated format, take its units until flushed, and
// place their time stamps on the pipeline's running time.
#pragma once

#include <gst/base/gstpushsrc.h>
#include <gst/gst.h>

#include <atomic>
#include <cstdint>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "sources.h"

namespace vorngst {

// The device an element captures, as its properties name it.
struct DeviceChoice {
    std::string kind;    // desktop, window, camera, microphone
    std::string device;  // an index, or a name (a window's title)
    std::string via;     // push, pull, or empty: the kind's first delivery
};

class CaptureSession {
public:
    enum class Taken { Unit, Flushing, Silent };

    // Finds the chosen device; false with the reason when there is none.
    bool Find(const DeviceChoice& choice, std::string& error);
    // Opens the device found (closing one opened before) with `request`.
    bool Open(const vmcapture::CaptureRequest& request, std::string& error);
    bool IsOpen() const { return source_ != nullptr; }
    // What the open device delivers.
    const vmcapture::StreamFormat& Format() const { return format_; }
    std::string Name() const;
    bool IsKind(const char* kind) const;
    // The PCM formats the chosen microphone lists.
    std::vector<vmcapture::StreamFormat> MicrophoneFormats() const;
    // Waits for the next unit until Flush() or `silentSeconds` without one. The bytes stay
    // valid until the next Take or Close; `seconds` is the device's time stamp.
    Taken Take(const uint8_t*& data, size_t& size, double& seconds, double silentSeconds);
    // Units the device produced that never reached Take since it opened.
    uint64_t Lost() const;
    // Makes a waiting Take return Flushing, and every later one until Resume().
    void Flush() { flushing_ = true; }
    void Resume() { flushing_ = false; }
    void Close();

private:
    const vmcapture::SourceKind* kind_ = nullptr;
    vmcapture::Selector selector_;
    std::unique_ptr<vmcapture::Source> source_;
    vmcapture::StreamFormat format_;
    std::atomic<bool> flushing_{false};
};

// Maps the device's time stamps (seconds on a clock of its own) onto the element's running
// time: the first unit is stamped with the running time it arrived at, every later one by the
// device's time since then, never earlier than the one before.
class TimeMapper {
public:
    void Reset() { started_ = false; }
    GstClockTime Map(GstElement* element, double seconds);

private:
    bool started_ = false;
    double firstSeconds_ = 0;
    GstClockTime firstRunning_ = 0;
    GstClockTime last_ = GST_CLOCK_TIME_NONE;
};

// The element's running time now (its clock's time less its base time); 0 without a clock.
GstClockTime RunningTimeNow(GstElement* element);

// A property value of the element, read and written under its lock.
class Settings {
public:
    DeviceChoice Choice() const {
        std::lock_guard<std::mutex> lock(mutex_);
        return choice_;
    }
    template <class Change>
    void Update(Change change) {
        std::lock_guard<std::mutex> lock(mutex_);
        change(choice_);
    }

private:
    mutable std::mutex mutex_;
    DeviceChoice choice_;
};

// What each element keeps beside its GObject instance.
struct ElementState {
    virtual ~ElementState() = default;
    Settings settings;
    CaptureSession session;
    TimeMapper time;
};

// The instance of both elements: a live push source with its state.
struct SourceInstance {
    GstPushSrc parent;
    ElementState* state;
};

// Installs what both element classes share: the properties "kind" (video only), "device" and
// "via", unlocking a waiting create, and freeing the state.
void InstallCommon(GObjectClass* klass, bool withKind, const char* defaultKind);

// Waits for the device's next unit. GST_FLOW_OK with a unit; GST_FLOW_FLUSHING when unlocked;
// GST_FLOW_ERROR, with the error on the bus, when the device stays silent.
GstFlowReturn TakeUnit(GstPushSrc* self, const uint8_t*& data, size_t& size, double& seconds);

}  // namespace vorngst
