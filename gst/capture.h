// SPDX-License-Identifier: MIT
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
    std::string world;   // auto, host or virtual, as vmcapture's --world
};

class CaptureSession {
public:
    enum class Taken { Unit, Flushing, Silent };

    // Finds the chosen device; false with the reason when there is none.
    bool Find(const DeviceChoice& choice, std::string& error);
    // Opens the device found (closing one opened before) with `request`.
    bool Open(const VornCapture::CaptureRequest& request, std::string& error);
    bool IsOpen() const { return source_ != nullptr; }
    // What the open device delivers.
    const VornCapture::StreamFormat& Format() const { return format_; }
    std::string Name() const;
    bool IsKind(const char* kind) const;
    // The device found, as its kind's sources select it.
    const VornCapture::Selector& Selection() const { return selector_; }
    // The PCM formats the chosen microphone lists.
    std::vector<VornCapture::StreamFormat> MicrophoneFormats() const;
    // Waits for the next unit until Flush() or `silentSeconds` without one. The bytes stay
    // valid until the next Take or Close; `seconds` is the device's time stamp.
    Taken Take(const uint8_t*& data, size_t& size, double& seconds, double silentSeconds);
    // Units the device produced that never reached Take since it opened.
    uint64_t Lost() const;
    // Makes a waiting Take return Flushing, and every later one until Resume().
    void Flush() { flushing_ = true; }
    void Resume() { flushing_ = false; }
    bool Flushing() const { return flushing_; }
    void Close();

private:
    const VornCapture::SourceKind* kind_ = nullptr;
    VornCapture::Selector selector_;
    std::unique_ptr<VornCapture::Source> source_;
    VornCapture::StreamFormat format_;
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

// What each element keeps beside its GObject instance, and what it does of its own. The class
// set-up below (InitClass) gives both elements the same start, stop, caps, latency and create
// steps; each step asks the element's state for the part only that element knows.
struct ElementState {
    virtual ~ElementState() = default;

    GstBaseSrc* element = nullptr;
    Settings settings;
    CaptureSession session;
    TimeMapper time;
    bool negotiated = false;

    // Before the device is looked up: the element may set the kind it captures, or refuse the
    // choice (false, with the reason).
    virtual bool Choose(DeviceChoice& choice, std::string& error) = 0;
    // Once the device is found; false when it cannot be used (with an error on the bus).
    virtual bool Begin() = 0;
    // When the element stops, after the device closed.
    virtual void End() {}
    // The caps of the format negotiated, and those offered before.
    virtual GstCaps* NegotiatedCaps() = 0;
    virtual GstCaps* OfferedCaps() = 0;
    // Fixes the fields of the first structure of caps downstream left open.
    virtual void Fixate(GstStructure* s) = 0;
    // Opens the device with the caps negotiated; false (with an error on the bus) when it
    // cannot deliver them.
    virtual bool Negotiate(GstCaps* caps) = 0;
    // The time between a unit's stamp and its leaving the element, at most.
    virtual GstClockTime Latency() const = 0;
    // The buffer of one unit of the device. GST_FLOW_CUSTOM_SUCCESS: the unit is passed over
    // and the next one taken.
    virtual GstFlowReturn Make(const uint8_t* data, size_t size, double seconds,
                               GstBuffer** out) = 0;
    // Whether the element takes its frames itself rather than the device's units (Produce
    // then makes each buffer, waiting for it as long as it must).
    virtual bool OwnFrames() const { return false; }
    virtual GstFlowReturn Produce(GstBuffer** out) {
        (void)out;
        return GST_FLOW_NOT_NEGOTIATED;
    }

    // Opens the device with `request`; false, with the reason on the bus, when it does not open.
    bool OpenDevice(const VornCapture::CaptureRequest& request);
    // Whether the device lost units since the last call (the stream has a gap there);
    // lostSeen counts them all.
    bool LostMore();
    uint64_t lostSeen = 0;
};

// The instance of both elements: a live push source with its state.
struct SourceInstance {
    GstPushSrc parent;
    ElementState* state;
};
struct SourceClass {
    GstPushSrcClass parent;
};

// What tells the two element classes apart in GStreamer's registry.
struct ElementDescription {
    const char* longName;
    const char* classification;
    const char* description;
    GstCaps* templateCaps;  // the pad template's caps; taken
    // The "kind" property (video) or a fixed kind (audio).
    bool withKind;
    const char* defaultKind;
};

// Sets up an element class: its metadata and pad template, the properties "kind" (where
// withKind), "device", "via" and "world", and every step of a live push source.
void InitClass(SourceClass* klass, const ElementDescription& description);
// Sets up an instance with its state: a live source in time format, the device of index 0.
void InitInstance(SourceInstance* self, ElementState* state, const char* kind);

}  // namespace vorngst
