// SPDX-License-Identifier: MIT
// The plugin's types: the two source elements and the device provider.
#pragma once

#include <gst/gst.h>

G_BEGIN_DECLS

GType vorn_video_src_get_type(void);
GType vorn_audio_src_get_type(void);
GType vorn_device_provider_get_type(void);

G_END_DECLS

// The caps the video element can offer for a screen of `width` x `height` (0: any size).
GstCaps* VornVideoCaps(guint width, guint height);
// The caps the audio element can offer before a device is open.
GstCaps* VornAudioCaps();

// The licence the plugin declares to GStreamer (the project's: MIT).
#define VORN_PLUGIN_LICENSE "MIT/X11"

// Registers the elements and the device provider with `plugin`.
gboolean VornRegisterElements(GstPlugin* plugin);
// Registers them in this process without a plugin file (for programs linking the elements).
bool VornRegisterStaticPlugin();
