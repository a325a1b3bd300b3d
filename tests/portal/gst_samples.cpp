// SPDX-License-Identifier: MIT
#include "gst_samples.h"

#include <gst/app/gstappsink.h>
#include <gst/video/video.h>
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdlib>

namespace vmc_test {

std::unique_ptr<ChildProcess> TestPictureNode(const std::string& pattern, const std::string& caps,
                                              const std::string& encoder,
                                              const std::string& properties) {
    return std::make_unique<ChildProcess>(
        std::vector<std::string>{"/usr/bin/gst-launch-1.0", "-q", "videotestsrc",
                                 "pattern=" + pattern, "is-live=true", "!", caps, "!", encoder, "!",
                                 "pipewiresink", "mode=provide",
                                 "stream-properties=props,media.class=Video/Source," + properties},
        std::vector<std::string>{});
}

void FirstSample(const std::string& description, Sampled* out) {
    GError* error = nullptr;
    GstElement* pipeline = gst_parse_launch(description.c_str(), &error);
    ASSERT_NE(nullptr, pipeline) << (error != nullptr ? error->message : "") << ": " << description;
    GstElement* sink = gst_bin_get_by_name(GST_BIN(pipeline), "out");
    ASSERT_NE(nullptr, sink);
    gst_element_set_state(pipeline, GST_STATE_PLAYING);
    out->sample = gst_app_sink_try_pull_sample(GST_APP_SINK(sink), 10 * GST_SECOND);
    gst_element_set_state(pipeline, GST_STATE_NULL);
    gst_object_unref(sink);
    gst_object_unref(pipeline);
    ASSERT_NE(nullptr, out->sample) << "no frame from " << description;
}

std::vector<std::uint8_t> Bytes(GstSample* sample) {
    GstMapInfo map;
    GstBuffer* buffer = gst_sample_get_buffer(sample);
    if (!gst_buffer_map(buffer, &map, GST_MAP_READ)) return {};
    std::vector<std::uint8_t> bytes(map.data, map.data + map.size);
    gst_buffer_unmap(buffer, &map);
    return bytes;
}

Difference Compare(GstSample* a, GstSample* b) {
    Difference d;
    d.largest = 256;
    GstVideoInfo infoA, infoB;
    GstVideoFrame fa, fb;
    if (!gst_video_info_from_caps(&infoA, gst_sample_get_caps(a)) ||
        !gst_video_info_from_caps(&infoB, gst_sample_get_caps(b)) ||
        GST_VIDEO_INFO_FORMAT(&infoA) != GST_VIDEO_INFO_FORMAT(&infoB) ||
        GST_VIDEO_INFO_WIDTH(&infoA) != GST_VIDEO_INFO_WIDTH(&infoB) ||
        GST_VIDEO_INFO_HEIGHT(&infoA) != GST_VIDEO_INFO_HEIGHT(&infoB) ||
        !gst_video_frame_map(&fa, &infoA, gst_sample_get_buffer(a), GST_MAP_READ)) {
        return d;
    }
    if (!gst_video_frame_map(&fb, &infoB, gst_sample_get_buffer(b), GST_MAP_READ)) {
        gst_video_frame_unmap(&fa);
        return d;
    }
    d.largest = 0;
    for (guint p = 0; p < GST_VIDEO_FRAME_N_PLANES(&fa); ++p) {
        const int rows = GST_VIDEO_FRAME_COMP_HEIGHT(&fa, p);
        const int rowBytes =
            GST_VIDEO_FRAME_COMP_WIDTH(&fa, p) * GST_VIDEO_FRAME_COMP_PSTRIDE(&fa, p);
        double sum = 0;
        for (int y = 0; y < rows; ++y) {
            const auto* ra = static_cast<const std::uint8_t*>(GST_VIDEO_FRAME_PLANE_DATA(&fa, p)) +
                             y * GST_VIDEO_FRAME_PLANE_STRIDE(&fa, p);
            const auto* rb = static_cast<const std::uint8_t*>(GST_VIDEO_FRAME_PLANE_DATA(&fb, p)) +
                             y * GST_VIDEO_FRAME_PLANE_STRIDE(&fb, p);
            for (int x = 0; x < rowBytes; ++x) {
                const int diff = std::abs(int{ra[x]} - int{rb[x]});
                sum += diff;
                d.largest = std::max(d.largest, diff);
            }
        }
        d.mean = std::max(d.mean, sum / (static_cast<double>(rows) * rowBytes));
    }
    gst_video_frame_unmap(&fb);
    gst_video_frame_unmap(&fa);
    return d;
}

// A peer that takes no caps at all: a live source's task negotiates as soon as it is paused,
// and once negotiated the element answers with its one format, no longer with all it offers.
gboolean RefuseEveryFormat(GstPad*, GstObject*, GstQuery* query) {
    if (GST_QUERY_TYPE(query) != GST_QUERY_CAPS) return FALSE;
    GstCaps* none = gst_caps_new_empty();
    gst_query_set_caps_result(query, none);
    gst_caps_unref(none);
    return TRUE;
}

std::vector<std::string> OfferedCaps(const std::string& kind, const std::string& device) {
    GstElement* source = gst_element_factory_make("vornvideosrc", nullptr);
    g_object_set(source, "kind", kind.c_str(), "world", "host", nullptr);
    if (!device.empty()) g_object_set(source, "device", device.c_str(), nullptr);
    std::vector<std::string> names;
    GstPad* pad = gst_element_get_static_pad(source, "src");
    GstPad* refuser = gst_pad_new("refuser", GST_PAD_SINK);
    gst_pad_set_query_function(refuser, RefuseEveryFormat);
    // A checked link would refuse a peer without caps, leaving the source to negotiate alone.
    if (gst_pad_link_full(pad, refuser, GST_PAD_LINK_CHECK_NOTHING) != GST_PAD_LINK_OK)
        names.push_back("no peer");
    else if (gst_element_set_state(source, GST_STATE_PAUSED) != GST_STATE_CHANGE_FAILURE) {
        GstCaps* caps = gst_pad_query_caps(pad, nullptr);
        for (guint i = 0; i < gst_caps_get_size(caps); ++i) {
            const GstStructure* s = gst_caps_get_structure(caps, i);
            const char* format = gst_structure_get_string(s, "format");
            const char* colorimetry = gst_structure_get_string(s, "colorimetry");
            const bool full =
                colorimetry != nullptr && colorimetry[0] == '1' && colorimetry[1] == ':';
            names.push_back(std::string(format != nullptr ? format : gst_structure_get_name(s)) +
                            (full ? " full range" : ""));
        }
        gst_caps_unref(caps);
    }
    gst_element_set_state(source, GST_STATE_NULL);
    gst_pad_unlink(pad, refuser);
    gst_object_unref(refuser);
    gst_object_unref(pad);
    gst_object_unref(source);
    return names;
}

}  // namespace vmc_test

// The suites' main: the plugin of this build only, scanned in this process, in a registry of the
// suite's own (VMC_GST_REGISTRY); the host world.
int main(int argc, char** argv) {
    setenv("VORN_WORLD", "host", 1);
    setenv("GST_PLUGIN_PATH_1_0", VMC_GST_PLUGIN_DIR, 1);
    setenv("GST_REGISTRY_1_0", VMC_GST_REGISTRY, 1);
    setenv("GST_REGISTRY_FORK", "no", 1);
    testing::InitGoogleTest(&argc, argv);
    gst_init(&argc, &argv);
    const int result = RUN_ALL_TESTS();
    gst_deinit();
    return result;
}
