// The "vorn" plugin: the library's devices as GStreamer sources, and their device provider.
#include "elements.h"

static gboolean PluginInit(GstPlugin* plugin) {
    return gst_element_register(plugin, "vornvideosrc", GST_RANK_NONE, vorn_video_src_get_type()) &&
           gst_element_register(plugin, "vornaudiosrc", GST_RANK_NONE, vorn_audio_src_get_type()) &&
           gst_device_provider_register(plugin, "vorndeviceprovider", GST_RANK_SECONDARY,
                                        vorn_device_provider_get_type());
}

#define PACKAGE "vornmediacapture"
GST_PLUGIN_DEFINE(GST_VERSION_MAJOR, GST_VERSION_MINOR, vorn,
                  "Screen, window, camera and microphone capture through VornMediaCapture",
                  PluginInit, VMC_VERSION, "Proprietary", "VornMediaCapture", "VornMediaCapture")
