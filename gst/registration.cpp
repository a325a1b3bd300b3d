// SPDX-License-Identifier: MIT
#include "elements.h"

gboolean VornRegisterElements(GstPlugin* plugin) {
    return gst_element_register(plugin, "vornvideosrc", GST_RANK_NONE, vorn_video_src_get_type()) &&
           gst_element_register(plugin, "vornaudiosrc", GST_RANK_NONE, vorn_audio_src_get_type()) &&
           gst_device_provider_register(plugin, "vorndeviceprovider", GST_RANK_SECONDARY,
                                        vorn_device_provider_get_type());
}

bool VornRegisterStaticPlugin() {
    return gst_plugin_register_static(GST_VERSION_MAJOR, GST_VERSION_MINOR, "vorn",
                                      "VornMediaCapture's devices", VornRegisterElements,
                                      VMC_VERSION, VORN_PLUGIN_LICENSE, "vornmediacapture",
                                      "VornMediaCapture", "VornMediaCapture");
}
