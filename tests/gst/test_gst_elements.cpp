// SPDX-License-Identifier: MIT
// The plugin's elements in the virtual world: every device kind, caps negotiation, time stamps,
// EOS, repeated state changes with the platform's counters back where they were, errors on the
// bus, and the device provider.
#include <gst/check/gstharness.h>
#include <gst/gst.h>
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <tuple>
#include <vector>

#include "vorn/control/display.h"
#include "vorn/control/kernel.h"
#include "vorn/control/media.h"

namespace {

constexpr const char* kWindowTitle = "Plugin Test Window";

// The pipeline of a launch line; null, with a failure, when any part of it cannot be made
// (GStreamer would otherwise hand back what it could make of the rest).
GstElement* Launch(const std::string& line) {
    GError* error = nullptr;
    GstElement* pipeline =
        gst_parse_launch_full(line.c_str(), nullptr, GST_PARSE_FLAG_FATAL_ERRORS, &error);
    if (error != nullptr) {
        ADD_FAILURE() << line << ": " << error->message;
        g_error_free(error);
        if (pipeline != nullptr) gst_object_unref(pipeline);
        return nullptr;
    }
    return pipeline;
}

struct Pulled {
    std::string caps;
    std::vector<GstClockTime> pts;
    std::vector<GstClockTime> durations;
    std::vector<gsize> sizes;
};

Pulled PullThroughHarness(const std::string& launch, const char* sinkCaps, int count) {
    Pulled pulled;
    GstHarness* h = gst_harness_new_parse(launch.c_str());
    gst_harness_use_systemclock(h);
    if (sinkCaps != nullptr) gst_harness_set_sink_caps_str(h, sinkCaps);
    gst_harness_play(h);
    const gint64 deadline = g_get_monotonic_time() + 15 * G_TIME_SPAN_SECOND;
    while (static_cast<int>(pulled.pts.size()) < count && g_get_monotonic_time() < deadline) {
        GstBuffer* buffer = gst_harness_try_pull(h);
        if (buffer == nullptr) {
            g_usleep(5000);
            continue;
        }
        pulled.pts.push_back(GST_BUFFER_PTS(buffer));
        pulled.durations.push_back(GST_BUFFER_DURATION(buffer));
        pulled.sizes.push_back(gst_buffer_get_size(buffer));
        gst_buffer_unref(buffer);
    }
    GstCaps* caps = gst_pad_get_current_caps(h->sinkpad);
    if (caps != nullptr) {
        gchar* text = gst_caps_to_string(caps);
        pulled.caps = text;
        g_free(text);
        gst_caps_unref(caps);
    }
    gst_harness_teardown(h);
    return pulled;
}

// Strictly rising, and on average about one `period` apart: late frames (a grab on a busy
// machine) only stretch the spacing, a pulled camera on a machine busy with builds averaged 2.4
// periods, so the upper bound is loose; stamps of the wrong unit or scale are far outside it.
void ExpectSpacedBy(const Pulled& pulled, GstClockTime period) {
    ASSERT_GE(pulled.pts.size(), 3u);
    for (size_t i = 0; i < pulled.pts.size(); ++i) {
        ASSERT_TRUE(GST_CLOCK_TIME_IS_VALID(pulled.pts[i])) << i;
        if (i > 0) {
            EXPECT_GT(pulled.pts[i], pulled.pts[i - 1]) << i;
        }
    }
    const double average = static_cast<double>(pulled.pts.back() - pulled.pts.front()) /
                           static_cast<double>(pulled.pts.size() - 1);
    EXPECT_GE(average, 0.8 * period);
    EXPECT_LE(average, 4.0 * period);
}

struct KindCase {
    const char* name;
    const char* launch;
    const char* sinkCaps;
    const char* capsStart;  // the negotiated caps begin so
    gsize bufferSize;       // 0: a whole number of sample frames of `frameBytes`
    gsize frameBytes;
    GstClockTime period;  // 0: the buffer's own duration
};

class EveryKind : public testing::TestWithParam<KindCase> {};

TEST_P(EveryKind, NegotiatesAndStampsByThePeriod) {
    const KindCase& c = GetParam();
    const Pulled pulled = PullThroughHarness(c.launch, c.sinkCaps, 12);
    ASSERT_EQ(pulled.pts.size(), 12u) << c.launch;
    EXPECT_EQ(pulled.caps.rfind(c.capsStart, 0), 0u) << pulled.caps;
    for (size_t i = 0; i < pulled.sizes.size(); ++i) {
        const gsize whole = c.bufferSize != 0 ? c.bufferSize : pulled.sizes[i];
        EXPECT_EQ(pulled.sizes[i], whole) << i;
        if (c.frameBytes != 0) {
            EXPECT_EQ(pulled.sizes[i] % c.frameBytes, 0u) << i;
        }
        ASSERT_TRUE(GST_CLOCK_TIME_IS_VALID(pulled.durations[i]));
    }
    // Audio: each buffer starts where the one before ended, or later after a gap; never sooner.
    const GstClockTime period = c.period != 0 ? c.period : pulled.durations[0];
    for (size_t i = 1; c.period == 0 && i < pulled.pts.size(); ++i) {
        EXPECT_GE(pulled.pts[i], pulled.pts[i - 1] + pulled.durations[i - 1]) << i;
    }
    ExpectSpacedBy(pulled, period);
}

const KindCase kKinds[] = {
    {"DesktopBgr", "vornvideosrc", "video/x-raw,format=BGR,width=320,height=240,framerate=10/1",
     "video/x-raw, format=(string)BGR", 320 * 240 * 3, 0, GST_SECOND / 10},
    {"DesktopI420", "vornvideosrc kind=desktop device=0",
     "video/x-raw,format=I420,width=640,height=480,framerate=20/1",
     "video/x-raw, format=(string)I420", 640 * 480 * 3 / 2, 0, GST_SECOND / 20},
    // A window's client size, rows padded to 4 bytes in BGR.
    {"WindowByTitle", "vornvideosrc kind=window device=\"Plugin Test Window\"",
     "video/x-raw,format=BGR,framerate=10/1", "video/x-raw, format=(string)BGR", 0, 1,
     GST_SECOND / 10},
    {"CameraPush", "vornvideosrc kind=camera", "video/x-raw,format=I420",
     "video/x-raw, format=(string)I420", 640 * 480 * 3 / 2, 0, GST_SECOND / 20},
    {"CameraPull", "vornvideosrc kind=camera via=pull device=\"Vorn Virtual Camera\"",
     "video/x-raw,format=BGR", "video/x-raw, format=(string)BGR", 640 * 480 * 3, 0,
     GST_SECOND / 20},
    {"MicrophonePush", "vornaudiosrc", "audio/x-raw,format=S16LE,rate=48000,channels=2",
     "audio/x-raw, format=(string)S16LE, rate=(int)48000, channels=(int)2", 0, 4, 0},
    // A format the device lists, other than the one it offers first.
    {"MicrophonePullMono", "vornaudiosrc via=pull", "audio/x-raw,rate=16000,channels=1",
     "audio/x-raw, format=(string)S16LE, rate=(int)16000, channels=(int)1", 0, 2, 0},
};

INSTANTIATE_TEST_SUITE_P(Kinds, EveryKind, testing::ValuesIn(kKinds),
                         [](const testing::TestParamInfo<KindCase>& info) {
                             return std::string(info.param.name);
                         });

// The outcome of the pipeline's state change once it has settled (its state in `now`), or
// ASYNC after `limit`. It asks without waiting inside GStreamer, so that no wait there can
// outlast the limit.
GstStateChangeReturn Settle(GstElement* pipeline, GstState* now = nullptr,
                            GstClockTime limit = 10 * GST_SECOND) {
    const gint64 deadline = g_get_monotonic_time() + static_cast<gint64>(limit / GST_USECOND);
    GstStateChangeReturn result = gst_element_get_state(pipeline, now, nullptr, 0);
    while (result == GST_STATE_CHANGE_ASYNC && g_get_monotonic_time() < deadline) {
        g_usleep(5000);
        result = gst_element_get_state(pipeline, now, nullptr, 0);
    }
    return result;
}

// Runs a pipeline to its end (EOS or error) and returns the messages' types and the error text.
struct Outcome {
    bool eos = false;
    std::string error;  // the first error's message
    int errors = 0;     // the errors on the bus, the first one and any that followed it
};
Outcome RunToEnd(GstElement* pipeline, GstClockTime limit = 20 * GST_SECOND) {
    Outcome outcome;
    gst_element_set_state(pipeline, GST_STATE_PLAYING);
    GstBus* bus = gst_element_get_bus(pipeline);
    GstMessage* message = gst_bus_timed_pop_filtered(
        bus, limit, static_cast<GstMessageType>(GST_MESSAGE_EOS | GST_MESSAGE_ERROR));
    if (message != nullptr) {
        if (GST_MESSAGE_TYPE(message) == GST_MESSAGE_EOS) {
            outcome.eos = true;
        } else {
            GError* error = nullptr;
            gst_message_parse_error(message, &error, nullptr);
            outcome.error = error->message;
            g_error_free(error);
            outcome.errors = 1;
            // Another element's (or the base class's) error follows the first one at once.
            while (GstMessage* more =
                       gst_bus_timed_pop_filtered(bus, 300 * GST_MSECOND, GST_MESSAGE_ERROR)) {
                ++outcome.errors;
                gst_message_unref(more);
            }
        }
        gst_message_unref(message);
    }
    gst_object_unref(bus);
    gst_element_set_state(pipeline, GST_STATE_NULL);
    return outcome;
}

// What the platform has alive (threads, handles, COM objects, streaming threads): after the
// elements go back to NULL, all of it is gone.
std::tuple<unsigned long, unsigned long, long, long> Now() {
    return {VornWorld::LiveThreadCount(), VornWorld::OpenHandleCount(), VornWorld::LiveComObjects(),
            VornWorld::LiveStreamingThreads()};
}

// While playing, every element answers the latency query as live, within a tenth of a second.
TEST(Elements, StateChangeCyclesAnswerTheLatencyAndLeaveNothingBehind) {
    const auto before = Now();
    for (const char* launch :
         {"vornvideosrc name=src ! video/x-raw,width=320,height=240,framerate=30/1 ! fakesink",
          "vornvideosrc name=src kind=camera ! fakesink",
          "vornvideosrc name=src kind=camera via=pull ! fakesink",
          "vornvideosrc name=src kind=window device=\"Plugin Test Window\" ! fakesink",
          "vornaudiosrc name=src ! fakesink", "vornaudiosrc name=src via=pull ! fakesink"}) {
        GstElement* pipeline = Launch(launch);
        ASSERT_NE(pipeline, nullptr);
        for (int cycle = 0; cycle < 3; ++cycle) {
            for (GstState state : {GST_STATE_READY, GST_STATE_PAUSED, GST_STATE_PLAYING,
                                   GST_STATE_PAUSED, GST_STATE_PLAYING, GST_STATE_READY}) {
                gst_element_set_state(pipeline, state);
                GstState now = GST_STATE_VOID_PENDING;
                const GstStateChangeReturn result = Settle(pipeline, &now);
                ASSERT_TRUE(result != GST_STATE_CHANGE_FAILURE && result != GST_STATE_CHANGE_ASYNC)
                    << launch << " to " << gst_element_state_get_name(state) << ": "
                    << gst_element_state_change_return_get_name(result);
                EXPECT_EQ(now, state) << launch;
                if (state != GST_STATE_PLAYING) continue;
                g_usleep(60000);
                GstQuery* query = gst_query_new_latency();
                gboolean live = FALSE;
                GstClockTime min = 0, max = 0;
                GstElement* source = gst_bin_get_by_name(GST_BIN(pipeline), "src");
                EXPECT_TRUE(gst_element_query(source, query)) << launch;
                gst_object_unref(source);
                gst_query_parse_latency(query, &live, &min, &max);
                gst_query_unref(query);
                EXPECT_TRUE(live && min > 0 && min <= GST_SECOND / 10 && max >= min)
                    << launch << ": latency " << min << " to " << max;
            }
            gst_element_set_state(pipeline, GST_STATE_NULL);
            EXPECT_EQ(Now(), before) << launch << ", cycle " << cycle;
        }
        gst_object_unref(pipeline);
    }
}

// Missing devices, unknown kinds and worlds, and formats the elements cannot make: an error
// when linking or on the bus, never an abort. An element that cannot start posts one error,
// which says the world it looked in.
TEST(Elements, RefuseWithAnErrorOnTheBus) {
    struct Refusal {
        const char* launch;
        const char* says;  // part of the error, where it cannot start
    };
    for (const Refusal& refusal : std::vector<Refusal>{
             {"vornvideosrc kind=camera device=7 ! fakesink", "in the virtual world"},
             {"vornvideosrc kind=printer ! fakesink", "in the virtual world"},
             {"vornvideosrc kind=window device=\"No Such Window\" ! fakesink",
              "in the virtual world"},
             {"vornvideosrc kind=microphone ! fakesink", "in the virtual world"},
             {"vornaudiosrc device=3 ! fakesink", "in the virtual world"},
             {"vornaudiosrc via=sideways ! fakesink", "in the virtual world"},
             {"vornvideosrc world=mars ! fakesink", "auto, host or virtual"},
             // The world is fixed for the process at its first capture (virtual here).
             {"vornaudiosrc world=host ! fakesink", "from the virtual world already"},
             // Odd sizes do not go into I420; a region larger than the screen is not on it.
             {"vornvideosrc ! video/x-raw,format=I420,width=161,height=121 ! fakesink", nullptr},
             {"vornvideosrc ! video/x-raw,width=9999,height=64 ! fakesink", nullptr},
             {"vornaudiosrc ! audio/x-raw,format=F32LE ! fakesink", nullptr}}) {
        const char* launch = refusal.launch;
        GError* error = nullptr;
        GstElement* pipeline =
            gst_parse_launch_full(launch, nullptr, GST_PARSE_FLAG_FATAL_ERRORS, &error);
        if (error != nullptr) {
            // Caps outside every format the element lists are refused when linking already.
            EXPECT_TRUE(g_error_matches(error, GST_PARSE_ERROR, GST_PARSE_ERROR_LINK))
                << launch << ": " << error->message;
            g_error_free(error);
            if (pipeline != nullptr) gst_object_unref(pipeline);
            continue;
        }
        ASSERT_NE(pipeline, nullptr);
        const Outcome outcome = RunToEnd(pipeline, 5 * GST_SECOND);
        EXPECT_FALSE(outcome.eos) << launch;
        EXPECT_FALSE(outcome.error.empty()) << launch;
        if (refusal.says != nullptr) {
            EXPECT_NE(outcome.error.find(refusal.says), std::string::npos)
                << launch << ": " << outcome.error;
            EXPECT_EQ(outcome.errors, 1) << launch << ": " << outcome.error;
        }
        gst_object_unref(pipeline);
    }
}

TEST(DeviceProvider, ListsEveryKindAndMakesItsElement) {
    GstDeviceProvider* provider = gst_device_provider_factory_get_by_name("vorndeviceprovider");
    ASSERT_NE(provider, nullptr);
    GList* devices = gst_device_provider_get_devices(provider);
    std::vector<std::string> kinds;
    GstDevice* camera = nullptr;
    for (GList* item = devices; item != nullptr; item = item->next) {
        GstDevice* device = GST_DEVICE(item->data);
        GstStructure* props = gst_device_get_properties(device);
        const std::string kind = gst_structure_get_string(props, "vorn.kind");
        kinds.push_back(kind);
        gst_structure_free(props);
        GstCaps* caps = gst_device_get_caps(device);
        EXPECT_FALSE(gst_caps_is_empty(caps)) << kind;
        gst_caps_unref(caps);
        if (kind == "camera" && camera == nullptr) camera = device;
    }
    for (const char* kind : {"desktop", "window", "camera", "microphone"})
        EXPECT_NE(std::find(kinds.begin(), kinds.end(), kind), kinds.end()) << kind;
    ASSERT_NE(camera, nullptr);
    GstElement* source = gst_device_create_element(camera, nullptr);
    ASSERT_NE(source, nullptr);
    GstElement* pipeline = gst_pipeline_new(nullptr);
    GstElement* sink = gst_element_factory_make("fakesink", nullptr);
    g_object_set(source, "num-buffers", 3, nullptr);
    gst_bin_add_many(GST_BIN(pipeline), source, sink, nullptr);
    ASSERT_TRUE(gst_element_link(source, sink));
    EXPECT_TRUE(RunToEnd(pipeline).eos);
    gst_object_unref(pipeline);
    g_list_free_full(devices, gst_object_unref);
    gst_object_unref(provider);
}

}  // namespace

int main(int argc, char** argv) {
    // The plugin of this build only, scanned in this process (a scanner process would load an
    // instrumented plugin without its sanitizer runtime), in a registry of its own.
    // The X screen's tests run in a child process of their own, in the host world.
    const bool xScreen = std::getenv("VMC_GST_X_SCREEN") != nullptr;
    setenv("VORN_WORLD", xScreen ? "host" : "virtual", 1);
    setenv("GST_PLUGIN_PATH_1_0", VMC_GST_PLUGIN_DIR, 1);
    setenv("GST_REGISTRY_1_0", VMC_GST_REGISTRY, 1);
    setenv("GST_REGISTRY_FORK", "no", 1);
    testing::InitGoogleTest(&argc, argv);
    // The X screen's cases belong to the child: the parent leaves them out instead of counting
    // them as skipped.
    if (!xScreen) {
        std::string filter = GTEST_FLAG_GET(filter);
        filter += filter.find('-') == std::string::npos ? "-" : ":";
        GTEST_FLAG_SET(filter, filter + "Formats/XScreenFormats.*");
    }
    gst_init(&argc, &argv);
    // An element made, not only listed: the registry lists the elements of a plugin it scanned
    // before, even when the plugin no longer loads.
    for (const char* name : {"vornvideosrc", "vornaudiosrc"}) {
        GstElement* element = gst_element_factory_make(name, nullptr);
        if (element == nullptr) {
            std::fprintf(stderr, "the plugin in %s did not load (no %s)\n", VMC_GST_PLUGIN_DIR,
                         name);
            return 1;
        }
        gst_object_unref(element);
    }
    const RECT outer{40, 40, 40 + 328, 40 + 260};
    if (!xScreen) VornWorld::AddWindow(kWindowTitle, outer);
    const int result = RUN_ALL_TESTS();
    gst_deinit();
    return result;
}
