// SPDX-License-Identifier: MIT
// The "vorn" plugin: the library's devices as GStreamer sources, and their device provider.
#include "elements.h"

#define PACKAGE "vornmediacapture"
GST_PLUGIN_DEFINE(GST_VERSION_MAJOR, GST_VERSION_MINOR, vorn,
                  "Screen, window, camera and microphone capture through VornMediaCapture",
                  VornRegisterElements, VMC_VERSION, VORN_PLUGIN_LICENSE, "VornMediaCapture",
                  "VornMediaCapture")
