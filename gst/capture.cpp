// SPDX-License-Identifier: MIT
#include "capture.h"

#include <chrono>

#include "autoworld.h"
#include "formats.h"

namespace vorngst {

bool CaptureSession::Find(const DeviceChoice& choice, std::string& error) {
    Close();
    kind_ = VornCapture::FindSourceKind(choice.kind, choice.via, error);
    if (kind_ == nullptr) return false;
    selector_ = VornCapture::Selector{};
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

bool CaptureSession::Open(const VornCapture::CaptureRequest& request, std::string& error) {
    Close();
    if (kind_ == nullptr) {
        error = "no device chosen";
        return false;
    }
    std::unique_ptr<VornCapture::Source> source = kind_->make(selector_, error);
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

std::vector<VornCapture::StreamFormat> CaptureSession::MicrophoneFormats() const {
    return VornCapture::MicrophoneFormats(selector_);
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

bool ElementState::OpenDevice(const VornCapture::CaptureRequest& request) {
    std::string error;
    if (session.Open(request, error)) return true;
    GST_ELEMENT_ERROR(element, RESOURCE, OPEN_READ, ("cannot open the device: %s", error.c_str()),
                      (nullptr));
    return false;
}

bool ElementState::LostMore() {
    const uint64_t lost = session.Lost();
    if (lost == lostSeen) return false;
    lostSeen = lost;
    return true;
}

namespace {

enum PropertyId { kPropKind = 1, kPropDevice, kPropVia, kPropWorld };

// Give up on a device that delivers nothing for this long.
constexpr double kSilentSeconds = 5.0;

ElementState& State(gpointer self) { return *reinterpret_cast<SourceInstance*>(self)->state; }

// Both elements derive from GstPushSrc directly.
GstBaseSrcClass* ParentClass() { return GST_BASE_SRC_CLASS(g_type_class_peek(GST_TYPE_PUSH_SRC)); }

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
            case kPropWorld:
                choice.world = string;
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
        case kPropWorld:
            g_value_set_string(value, choice.world.c_str());
            break;
        default:
            G_OBJECT_WARN_INVALID_PROPERTY_ID(object, id, property);
    }
}

void Finalize(GObject* object) {
    delete reinterpret_cast<SourceInstance*>(object)->state;
    G_OBJECT_CLASS(ParentClass())->finalize(object);
}

// Puts the world in force, finds the device and readies it; false with one error on the bus.
bool Prepare(ElementState& state) {
    DeviceChoice choice = state.settings.Choice();
    std::string error, used, why;
    // "auto" is the tool's default: VORN_WORLD where it is set, else the host's world where
    // the machine has something to capture.
    if (!VornCapture::PutWorldInForce(choice.world == "auto" ? "" : choice.world, used, why,
                                      error)) {
        GST_ELEMENT_ERROR(state.element, RESOURCE, SETTINGS, ("%s", error.c_str()), (nullptr));
        return false;
    }
    if ((choice.kind == "desktop" || choice.kind == "window") &&
        !VornCapture::NoDisplay().empty()) {
        const std::string what = choice.kind + " " + choice.device + " of " +
                                 VornCapture::WorldInForce() + ": " + VornCapture::NoDisplay();
        GST_ELEMENT_ERROR(state.element, RESOURCE, NOT_FOUND, ("%s", what.c_str()), (nullptr));
        return false;
    }
    if (!state.Choose(choice, error) || !state.session.Find(choice, error)) {
        const std::string where = error + " in " + VornCapture::WorldInForce();
        GST_ELEMENT_ERROR(state.element, RESOURCE, NOT_FOUND, ("%s", where.c_str()), (nullptr));
        return false;
    }
    state.negotiated = false;
    state.lostSeen = 0;
    state.time.Reset();
    return state.Begin();
}

// The device is found and readied before the base class starts: a start that fails makes the
// base class post an error of its own ("Failed to start") after the one that says why.
GstStateChangeReturn ChangeState(GstElement* element, GstStateChange transition) {
    ElementState& state = State(element);
    if (transition == GST_STATE_CHANGE_READY_TO_PAUSED && !Prepare(state)) {
        state.session.Close();
        state.End();
        return GST_STATE_CHANGE_FAILURE;
    }
    return GST_ELEMENT_CLASS(ParentClass())->change_state(element, transition);
}

gboolean Start(GstBaseSrc*) { return TRUE; }

gboolean Stop(GstBaseSrc* base) {
    ElementState& state = State(base);
    state.session.Close();
    state.negotiated = false;
    state.End();
    return TRUE;
}

gboolean Unlock(GstBaseSrc* base) {
    State(base).session.Flush();
    return TRUE;
}

gboolean UnlockStop(GstBaseSrc* base) {
    State(base).session.Resume();
    return TRUE;
}

GstCaps* GetCaps(GstBaseSrc* base, GstCaps* filter) {
    ElementState& state = State(base);
    GstCaps* caps = state.negotiated ? state.NegotiatedCaps() : state.OfferedCaps();
    if (filter != nullptr) {
        GstCaps* both = gst_caps_intersect_full(filter, caps, GST_CAPS_INTERSECT_FIRST);
        gst_caps_unref(caps);
        caps = both;
    }
    return caps;
}

GstCaps* Fixate(GstBaseSrc* base, GstCaps* caps) {
    caps = gst_caps_truncate(gst_caps_make_writable(caps));
    State(base).Fixate(gst_caps_get_structure(caps, 0));
    return ParentClass()->fixate(base, caps);
}

gboolean SetCaps(GstBaseSrc* base, GstCaps* caps) {
    ElementState& state = State(base);
    state.negotiated = state.Negotiate(caps);
    return state.negotiated;
}

gboolean Query(GstBaseSrc* base, GstQuery* query) {
    ElementState& state = State(base);
    if (GST_QUERY_TYPE(query) == GST_QUERY_LATENCY) {
        if (!state.negotiated) return FALSE;
        // The push queue holds up to 32 units.
        const GstClockTime latency = state.Latency();
        gst_query_set_latency(query, TRUE, latency, latency * 32);
        return TRUE;
    }
    return ParentClass()->query(base, query);
}

GstFlowReturn Create(GstPushSrc* push, GstBuffer** out) {
    ElementState& state = State(push);
    if (!state.negotiated) return GST_FLOW_NOT_NEGOTIATED;
    if (state.OwnFrames()) {
        const GstFlowReturn made = state.Produce(out);
        // Produce posted the error already, as below.
        return made == GST_FLOW_ERROR ? GST_FLOW_EOS : made;
    }
    for (;;) {
        const uint8_t* data = nullptr;
        size_t size = 0;
        double seconds = 0;
        switch (state.session.Take(data, size, seconds, kSilentSeconds)) {
            case CaptureSession::Taken::Unit:
                break;
            case CaptureSession::Taken::Flushing:
                return GST_FLOW_FLUSHING;
            case CaptureSession::Taken::Silent: {
                const DeviceChoice choice = state.settings.Choice();
                const std::string world = VornCapture::WorldInForce();
                const bool screen = choice.kind == "desktop" || choice.kind == "window";
                const std::string hint =
                    world.rfind("the host", 0) != 0
                        ? "; world=host captures this machine's own screen, sound and cameras"
                    : screen && !VornCapture::NoDisplay().empty()
                        ? " (" + VornCapture::NoDisplay() + ")"
                        : " (in use elsewhere, or the screen cast refused?)";
                GST_ELEMENT_ERROR(
                    push, RESOURCE, READ,
                    ("%s %s of %s delivered nothing for %g s%s", choice.kind.c_str(),
                     choice.device.c_str(), world.c_str(), kSilentSeconds, hint.c_str()),
                    (nullptr));
                // The error is on the bus: an error flow would make the base class post a
                // second one, so the stream ends.
                return GST_FLOW_EOS;
            }
        }
        const GstFlowReturn made = state.Make(data, size, seconds, out);
        // Make posted the error already, as above.
        if (made == GST_FLOW_ERROR) return GST_FLOW_EOS;
        if (made != GST_FLOW_CUSTOM_SUCCESS) return made;
    }
}

}  // namespace

void InitClass(SourceClass* klass, const ElementDescription& description) {
    GstPushSrcClass* push = &klass->parent;
    auto* object = G_OBJECT_CLASS(push);
    object->set_property = SetProperty;
    object->get_property = GetProperty;
    object->finalize = Finalize;
    auto* element = GST_ELEMENT_CLASS(push);
    element->change_state = ChangeState;
    gst_element_class_set_static_metadata(element, description.longName, description.classification,
                                          description.description, "VornMediaCapture developers");
    gst_element_class_add_pad_template(
        element,
        gst_pad_template_new("src", GST_PAD_SRC, GST_PAD_ALWAYS, description.templateCaps));
    gst_caps_unref(description.templateCaps);
    auto* base = GST_BASE_SRC_CLASS(push);
    base->start = Start;
    base->stop = Stop;
    base->unlock = Unlock;
    base->unlock_stop = UnlockStop;
    base->get_caps = GetCaps;
    base->fixate = Fixate;
    base->set_caps = SetCaps;
    base->query = Query;
    push->create = Create;

    const auto flags = static_cast<GParamFlags>(G_PARAM_READWRITE | G_PARAM_STATIC_STRINGS |
                                                GST_PARAM_MUTABLE_READY);
    if (description.withKind)
        g_object_class_install_property(
            object, kPropKind,
            g_param_spec_string("kind", "Kind", "Kind of device: desktop, window or camera",
                                description.defaultKind, flags));
    g_object_class_install_property(
        object, kPropDevice,
        g_param_spec_string("device", "Device",
                            "The device of its kind: an index (0 the first) or a name (a "
                            "window's title), as 'vmcapture list' shows them",
                            "0", flags));
    g_object_class_install_property(
        object, kPropVia,
        g_param_spec_string(
            "via", "Via",
            "Which delivery of the library's device to read: push or pull (queued for a "
            "desktop or window). Empty: the source's own frames where they can be "
            "lent, else the device's first delivery",
            "", flags));
    g_object_class_install_property(
        object, kPropWorld,
        g_param_spec_string("world", "World",
                            "Where the device is: host (this machine's own screen, sound server "
                            "and cameras), virtual (test sources), or auto: VORN_WORLD where it "
                            "is set, else host where the machine has a display or a sound "
                            "server, else virtual. Fixed for the process at its first capture",
                            "auto", flags));
}

void InitInstance(SourceInstance* self, ElementState* state, const char* kind) {
    self->state = state;
    state->element = GST_BASE_SRC(self);
    state->settings.Update([&](DeviceChoice& choice) {
        choice.kind = kind;
        choice.device = "0";
        choice.world = "auto";
    });
    gst_base_src_set_live(GST_BASE_SRC(self), TRUE);
    gst_base_src_set_format(GST_BASE_SRC(self), GST_FORMAT_TIME);
}

}  // namespace vorngst
