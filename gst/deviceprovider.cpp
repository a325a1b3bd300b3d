// SPDX-License-Identifier: MIT
// vorndeviceprovider: the library's devices for GStreamer's device monitor. Each device makes
// the source element that captures it, by kind and index.
#include <string>

#include "autoworld.h"
#include "elements.h"
#include "sources.h"
#include "tqzenumdevice.h"

struct VornDevice {
    GstDevice parent;
    gchar* kind;
    guint index;
};
struct VornDeviceClass {
    GstDeviceClass parent_class;
};

G_DEFINE_TYPE(VornDevice, vorn_device, GST_TYPE_DEVICE)

static GstElement* CreateElement(GstDevice* device, const gchar* name) {
    auto* self = reinterpret_cast<VornDevice*>(device);
    const bool audio = std::string(self->kind) == "microphone";
    GstElement* element = gst_element_factory_make(audio ? "vornaudiosrc" : "vornvideosrc", name);
    if (element == nullptr) return nullptr;
    const std::string index = std::to_string(self->index);
    if (!audio) g_object_set(element, "kind", self->kind, nullptr);
    g_object_set(element, "device", index.c_str(), nullptr);
    return element;
}

static void DeviceFinalize(GObject* object) {
    g_free(reinterpret_cast<VornDevice*>(object)->kind);
    G_OBJECT_CLASS(vorn_device_parent_class)->finalize(object);
}

static void vorn_device_class_init(VornDeviceClass* klass) {
    G_OBJECT_CLASS(klass)->finalize = DeviceFinalize;
    GST_DEVICE_CLASS(klass)->create_element = CreateElement;
}

static void vorn_device_init(VornDevice*) {}

struct VornDeviceProvider {
    GstDeviceProvider parent;
};
struct VornDeviceProviderClass {
    GstDeviceProviderClass parent_class;
};

G_DEFINE_TYPE(VornDeviceProvider, vorn_device_provider, GST_TYPE_DEVICE_PROVIDER)

namespace {

GstDevice* MakeDevice(const VornCapture::SourceKind& row, const VornCapture::SourceEntry& entry) {
    const bool audio = row.medium == VornCapture::Medium::Audio;
    GstCaps* caps = nullptr;
    if (audio) {
        caps = VornAudioCaps();
    } else if (std::string(row.kind) == "desktop") {
        const VornCapture::ScreenExtent screen = VornCapture::ScreenSize();
        caps = VornVideoCaps(screen.width, screen.height);
    } else {
        caps = VornVideoCaps(0, 0);
    }
    GstStructure* props = gst_structure_new(
        "vorn-device-properties", "vorn.kind", G_TYPE_STRING, row.kind, "vorn.index", G_TYPE_UINT,
        entry.index, "vorn.set", G_TYPE_STRING, row.setName, "vorn.delivery", G_TYPE_STRING,
        VornCapture::DeliveryName(row.delivery), nullptr);
    const std::string name =
        entry.name.empty() ? std::string(row.kind) + " " + std::to_string(entry.index) : entry.name;
    auto* device = static_cast<VornDevice*>(g_object_new(
        vorn_device_get_type(), "display-name", name.c_str(), "device-class",
        audio ? "Audio/Source" : "Video/Source", "caps", caps, "properties", props, nullptr));
    device->kind = g_strdup(row.kind);
    device->index = entry.index;
    gst_caps_unref(caps);
    gst_structure_free(props);
    return GST_DEVICE(device);
}

// Every device of each kind, listed once: from the first set that captures the kind. The
// world is chosen as the elements and the tool choose it (VORN_WORLD, else auto).
GList* Probe(GstDeviceProvider*) {
    std::string used, why, error;
    if (!VornCapture::PutWorldInForce("", used, why, error))
        GST_WARNING("the devices are those of the world in force: %s", error.c_str());
    TQZCapture::TQZEnumDevice all;
    GList* devices = nullptr;
    for (const VornCapture::SourceKind& row : VornCapture::SourceKinds()) {
        std::string error;
        if (row.make == nullptr || VornCapture::FindSourceKind(row.kind, "", error) != &row)
            continue;
        for (const VornCapture::SourceEntry& entry : row.list(all))
            devices = g_list_append(devices, gst_object_ref_sink(MakeDevice(row, entry)));
    }
    return devices;
}

}  // namespace

static void vorn_device_provider_class_init(VornDeviceProviderClass* klass) {
    auto* provider = GST_DEVICE_PROVIDER_CLASS(klass);
    provider->probe = Probe;
    gst_device_provider_class_set_static_metadata(
        provider, "Vorn device provider", "Source/Video/Audio",
        "Lists the screens, windows, cameras and microphones of VornMediaCapture",
        "VornMediaCapture developers");
}

static void vorn_device_provider_init(VornDeviceProvider*) {}
