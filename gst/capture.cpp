#include "capture.h"

#include <chrono>

#include "formats.h"

namespace vorngst {

bool CaptureSession::Find(const DeviceChoice& choice, std::string& error) {
    Close();
    kind_ = vmcapture::FindSourceKind(choice.kind, choice.via, error);
    if (kind_ == nullptr) return false;
    selector_ = vmcapture::Selector{};
    uint64_t index = 0;
    const std::string& device = choice.device;
    const bool digits = !device.empty() && device.size() <= 9 &&
                        device.find_first_not_of("0123456789") == std::string::npos;
    if (digits) {
        index = std::stoul(device);
        selector_.index = static_cast<unsigned int>(index);
    } else {
        selector_.byName = true;
        selector_.name = device;
    }
    // The device must exist now; it is made afresh at every Open.
    return kind_->make(selector_, error) != nullptr;
}

bool CaptureSession::Open(const vmcapture::CaptureRequest& request, std::string& error) {
    Close();
    if (kind_ == nullptr) {
        error = "no device chosen";
        return false;
    }
    std::unique_ptr<vmcapture::Source> source = kind_->make(selector_, error);
    if (!source) return false;
    if (!source->Open(request, error)) return false;
    format_ = source->Format();
    source_ = std::move(source);
    return true;
}

std::string CaptureSession::Name() const { return source_ ? source_->Name() : std::string(); }

bool CaptureSession::IsKind(const char* kind) const {
    return kind_ != nullptr && std::string(kind_->kind) == kind;
}

CaptureSession::Taken CaptureSession::Take(const uint8_t*& data, size_t& size, double& seconds,
                                           double silentSeconds) {
    const auto start = std::chrono::steady_clock::now();
    while (!flushing_) {
        if (source_ && source_->Take(data, size, seconds, 20)) return Taken::Unit;
        const std::chrono::duration<double> waited = std::chrono::steady_clock::now() - start;
        if (!source_ || waited.count() >= silentSeconds) return Taken::Silent;
    }
    return Taken::Flushing;
}

std::vector<vmcapture::StreamFormat> CaptureSession::MicrophoneFormats() const {
    return vmcapture::MicrophoneFormats(selector_);
}

uint64_t CaptureSession::Lost() const { return source_ ? source_->Lost() : 0; }

void CaptureSession::Close() {
    if (source_) source_->Close();
    source_.reset();
}

GstClockTime RunningTimeNow(GstElement* element) {
    GstClock* clock = gst_element_get_clock(element);
    if (clock == nullptr) return 0;
    const GstClockTime now = gst_clock_get_time(clock);
    gst_object_unref(clock);
    const GstClockTime base = gst_element_get_base_time(element);
    return now > base ? now - base : 0;
}

GstClockTime TimeMapper::Map(GstElement* element, double seconds) {
    if (!started_) {
        started_ = true;
        firstSeconds_ = seconds;
        firstRunning_ = RunningTimeNow(element);
        last_ = GST_CLOCK_TIME_NONE;
    }
    const double since = seconds - firstSeconds_;
    GstClockTime time = firstRunning_;
    if (since > 0) time += static_cast<GstClockTime>(since * GST_SECOND);
    if (GST_CLOCK_TIME_IS_VALID(last_) && time <= last_) time = last_ + 1;
    last_ = time;
    return time;
}

namespace {

enum PropertyId { kPropKind = 1, kPropDevice, kPropVia };

// Give up on a device that delivers nothing for this long.
constexpr double kSilentSeconds = 5.0;

ElementState& State(gpointer self) { return *reinterpret_cast<SourceInstance*>(self)->state; }

void SetProperty(GObject* object, guint id, const GValue* value, GParamSpec* property) {
    const char* text = g_value_get_string(value);
    const std::string string = text != nullptr ? text : "";
    State(object).settings.Update([&](DeviceChoice& choice) {
        switch (id) {
            case kPropKind:
                choice.kind = string;
                break;
            case kPropDevice:
                choice.device = string;
                break;
            case kPropVia:
                choice.via = string;
                break;
            default:
                G_OBJECT_WARN_INVALID_PROPERTY_ID(object, id, property);
        }
    });
}

void GetProperty(GObject* object, guint id, GValue* value, GParamSpec* property) {
    const DeviceChoice choice = State(object).settings.Choice();
    switch (id) {
        case kPropKind:
            g_value_set_string(value, choice.kind.c_str());
            break;
        case kPropDevice:
            g_value_set_string(value, choice.device.c_str());
            break;
        case kPropVia:
            g_value_set_string(value, choice.via.c_str());
            break;
        default:
            G_OBJECT_WARN_INVALID_PROPERTY_ID(object, id, property);
    }
}

void Finalize(GObject* object) {
    delete reinterpret_cast<SourceInstance*>(object)->state;
    // Both elements derive from GstPushSrc directly.
    G_OBJECT_CLASS(g_type_class_peek(GST_TYPE_PUSH_SRC))->finalize(object);
}

gboolean Unlock(GstBaseSrc* base) {
    State(base).session.Flush();
    return TRUE;
}

gboolean UnlockStop(GstBaseSrc* base) {
    State(base).session.Resume();
    return TRUE;
}

}  // namespace

void InstallCommon(GObjectClass* klass, bool withKind, const char* defaultKind) {
    klass->set_property = SetProperty;
    klass->get_property = GetProperty;
    klass->finalize = Finalize;
    GST_BASE_SRC_CLASS(klass)->unlock = Unlock;
    GST_BASE_SRC_CLASS(klass)->unlock_stop = UnlockStop;
    const auto flags = static_cast<GParamFlags>(G_PARAM_READWRITE | G_PARAM_STATIC_STRINGS |
                                                GST_PARAM_MUTABLE_READY);
    if (withKind)
        g_object_class_install_property(
            klass, kPropKind,
            g_param_spec_string("kind", "Kind", "Kind of device: desktop, window or camera",
                                defaultKind, flags));
    g_object_class_install_property(
        klass, kPropDevice,
        g_param_spec_string("device", "Device",
                            "The device of its kind: an index (0 the first) or a name (a "
                            "window's title), as 'vmcapture list' shows them",
                            "0", flags));
    g_object_class_install_property(
        klass, kPropVia,
        g_param_spec_string("via", "Via",
                            "How a camera or microphone delivers: push or pull (empty: push)", "",
                            flags));
}

GstFlowReturn TakeUnit(GstPushSrc* self, const uint8_t*& data, size_t& size, double& seconds) {
    switch (State(self).session.Take(data, size, seconds, kSilentSeconds)) {
        case CaptureSession::Taken::Unit:
            return GST_FLOW_OK;
        case CaptureSession::Taken::Flushing:
            return GST_FLOW_FLUSHING;
        case CaptureSession::Taken::Silent:
            break;
    }
    GST_ELEMENT_ERROR(self, RESOURCE, READ,
                      ("the device delivered nothing for %g s", kSilentSeconds), (nullptr));
    return GST_FLOW_ERROR;
}

}  // namespace vorngst
