# SPDX-License-Identifier: MIT
# GStreamer's development files, for the elements of gst/ and the tool's compressed recordings:
# VMC_WITH_GST is true where they are found (VMC_GSTREAMER AUTO) and required (ON); never on
# Windows.
set(VMC_WITH_GST FALSE)
if(NOT WIN32 AND VMC_BUILD_TOOLS AND NOT VMC_GSTREAMER STREQUAL "OFF")
    find_package(PkgConfig)
    if(PkgConfig_FOUND)
        pkg_check_modules(VMC_GST IMPORTED_TARGET GLOBAL gstreamer-1.0>=1.20 gstreamer-base-1.0
            gstreamer-video-1.0 gstreamer-audio-1.0 gstreamer-app-1.0)
    endif()
    if(VMC_GST_FOUND)
        set(VMC_WITH_GST TRUE)
        message(STATUS "GStreamer ${VMC_GST_gstreamer-1.0_VERSION}: building the GStreamer elements")
    elseif(VMC_GSTREAMER STREQUAL "ON")
        message(FATAL_ERROR "VMC_GSTREAMER is ON but GStreamer's development files were not found "
                            "(Debian: libgstreamer1.0-dev libgstreamer-plugins-base1.0-dev)")
    else()
        message(STATUS "GStreamer not found: no GStreamer elements, no compressed recordings")
    endif()
endif()
