// SPDX-License-Identifier: MIT
// vornvideosrc on a real X screen, in the host world: a process fixes its world at its first
// capture, so the suite runs these in a process of its own on an Xvfb of its own.
#include <gst/app/gstappsink.h>
#include <gst/gst.h>
#include <gst/video/video.h>
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/stat.h>

#include <cstdint>
#include <cstdlib>
#include <string>
#include <tuple>
#include <vector>

// Xlib's names come last: its macros Bool and None would otherwise rewrite gtest's.
#include <X11/Xlib.h>
#undef Bool
#undef None

namespace {

constexpr int kWidth = 320;
constexpr int kHeight = 240;

// A window of `color` at (x, y), mapped and drawn before it returns; a filled square inside.
::Window Paint(Display* display, int x, int y, int w, int h, uint32_t color, uint32_t inner) {
    const ::Window root = DefaultRootWindow(display);
    ::Window win = XCreateSimpleWindow(display, root, x, y, static_cast<unsigned>(w),
                                       static_cast<unsigned>(h), 0, 0, color);
    XMapRaised(display, win);
    XSync(display, False);
    for (int i = 0; i < 200; ++i) {
        XWindowAttributes a;
        if (XGetWindowAttributes(display, win, &a) && a.map_state == IsViewable) break;
        g_usleep(10000);
    }
    GC gc = XCreateGC(display, win, 0, nullptr);
    XSetForeground(display, gc, inner);
    XFillRectangle(display, win, gc, 10, 10, 20, 20);
    XFreeGC(display, gc);
    XSync(display, False);
    return win;
}

// A pipeline stopped and let go however the test ends (a live source left paused would hold
// GStreamer's shutdown).
struct Running {
    GstElement* pipeline = nullptr;
    ~Running() {
        if (pipeline == nullptr) return;
        gst_element_set_state(pipeline, GST_STATE_NULL);
        gst_object_unref(pipeline);
    }
};

struct FormatCase {
    const char* name;
    const char* caps;    // what the sink takes
    const char* format;  // what the element then gives
    int bytes;           // a pixel's
};

class XScreenFormats : public testing::TestWithParam<FormatCase> {};

TEST_P(XScreenFormats, OfferBgrxFirstAndCarryThePixels) {
    if (std::getenv("VMC_GST_X_SCREEN") == nullptr)
        GTEST_SKIP() << "run in a process of its own by XScreen.OnAnXvfbOfItsOwn";
    Display* display = XOpenDisplay(nullptr);
    ASSERT_NE(nullptr, display);
    Paint(display, 40, 30, 100, 80, 0x3366CC, 0xF0E010);

    Running running;
    GstElement* pipeline = running.pipeline =
        gst_parse_launch((std::string("vornvideosrc ! ") + GetParam().caps +
                          " ! appsink name=sink max-buffers=2 drop=true")
                             .c_str(),
                         nullptr);
    ASSERT_NE(nullptr, pipeline);
    GstElement* sink = gst_bin_get_by_name(GST_BIN(pipeline), "sink");
    ASSERT_NE(GST_STATE_CHANGE_FAILURE, gst_element_set_state(pipeline, GST_STATE_PLAYING));
    GstSample* sample = gst_app_sink_try_pull_sample(GST_APP_SINK(sink), 10 * GST_SECOND);
    ASSERT_NE(nullptr, sample);
    GstVideoInfo info;
    ASSERT_TRUE(gst_video_info_from_caps(&info, gst_sample_get_caps(sample)));
    EXPECT_STREQ(GetParam().format, gst_video_format_to_string(GST_VIDEO_INFO_FORMAT(&info)));
    EXPECT_EQ(kWidth, GST_VIDEO_INFO_WIDTH(&info));
    GstBuffer* buffer = gst_sample_get_buffer(sample);
    if (std::string(GetParam().format) == "BGRx") {
        // Lent: the screen's memory, which nobody downstream may write.
        EXPECT_TRUE(GST_MEMORY_IS_READONLY(gst_buffer_peek_memory(buffer, 0)));
    }
    GstVideoFrame frame;
    ASSERT_TRUE(gst_video_frame_map(&frame, &info, buffer, GST_MAP_READ));
    const auto* bytes = static_cast<const uint8_t*>(GST_VIDEO_FRAME_PLANE_DATA(&frame, 0));
    const int stride = GST_VIDEO_FRAME_PLANE_STRIDE(&frame, 0);
    EXPECT_GE(stride, kWidth * GetParam().bytes);
    for (auto [x, y, color] : {std::tuple{40, 30, 0x3366CCu},
                               {139, 109, 0x3366CCu},
                               {50, 40, 0xF0E010u},
                               {69, 59, 0xF0E010u},
                               {70, 60, 0x3366CCu}}) {
        const uint8_t* px =
            bytes + static_cast<size_t>(y) * stride + static_cast<size_t>(x) * GetParam().bytes;
        if (GetParam().bytes == 1) {
            // I420's luma, BT.601 limited range, within the rounding of a converter.
            const double r = color >> 16, g = color >> 8 & 0xFF, b = color & 0xFF;
            EXPECT_NEAR(16 + 0.257 * r + 0.504 * g + 0.098 * b, px[0], 2.0)
                << "luma at " << x << "," << y;
            continue;
        }
        EXPECT_EQ(color, uint32_t{px[2]} << 16 | uint32_t{px[1]} << 8 | px[0])
            << GetParam().format << " at " << x << "," << y;
    }
    gst_video_frame_unmap(&frame);
    gst_sample_unref(sample);

    gst_object_unref(sink);
    XCloseDisplay(display);
}

INSTANTIATE_TEST_SUITE_P(Formats, XScreenFormats,
                         testing::Values(
                             // Whatever downstream takes: the first offered, the screen's own.
                             FormatCase{"Any", "video/x-raw", "BGRx", 4},
                             FormatCase{"Bgr", "video/x-raw,format=BGR", "BGR", 3},
                             FormatCase{"I420", "video/x-raw,format=I420", "I420", 1},
                             // Of the two converted, BGR is offered first.
                             FormatCase{"BgrBeforeI420", "video/x-raw,format={I420,BGR}", "BGR",
                                        3}),
                         [](const auto& info) { return std::string(info.param.name); });

TEST(XScreen, OnAnXvfbOfItsOwn) {
    if (std::getenv("VMC_GST_X_SCREEN") != nullptr) GTEST_SKIP() << "the child process";
    gchar* xvfb = g_find_program_in_path("Xvfb");
    if (xvfb == nullptr) GTEST_SKIP() << "no Xvfb to run the X screen's tests on";
    // A display number no other server uses.
    int number = 0;
    for (number = 300 + static_cast<int>(getpid() % 400); number < 1000; ++number) {
        struct stat st;
        const std::string lock = "/tmp/.X" + std::to_string(number) + "-lock";
        const std::string socket = "/tmp/.X11-unix/X" + std::to_string(number);
        if (stat(lock.c_str(), &st) != 0 && stat(socket.c_str(), &st) != 0) break;
    }
    const std::string name = ":" + std::to_string(number);
    const std::string screen = std::to_string(kWidth) + "x" + std::to_string(kHeight) + "x24";
    gchar** serverArgs = g_strsplit(
        (std::string(xvfb) + " " + name + " -screen 0 " + screen + " -nolisten tcp").c_str(), " ",
        -1);
    GPid server = 0;
    ASSERT_TRUE(g_spawn_async(
        nullptr, serverArgs, nullptr,
        static_cast<GSpawnFlags>(G_SPAWN_DO_NOT_REAP_CHILD | G_SPAWN_STDOUT_TO_DEV_NULL |
                                 G_SPAWN_STDERR_TO_DEV_NULL),
        nullptr, nullptr, &server, nullptr));
    g_free(xvfb);
    g_strfreev(serverArgs);
    const std::string socket = "/tmp/.X11-unix/X" + std::to_string(number);
    for (int i = 0; i < 100 && !g_file_test(socket.c_str(), G_FILE_TEST_EXISTS); ++i)
        g_usleep(50000);

    gchar** env = g_get_environ();
    env = g_environ_setenv(env, "DISPLAY", name.c_str(), TRUE);
    env = g_environ_setenv(env, "VMC_GST_X_SCREEN", "1", TRUE);
    gchar* self = g_file_read_link("/proc/self/exe", nullptr);
    std::vector<gchar*> childArgs = {self, const_cast<gchar*>("--gtest_filter=Formats/*"), nullptr};
    gchar* out = nullptr;
    gint status = -1;
    const gboolean ran = g_spawn_sync(nullptr, childArgs.data(), env, G_SPAWN_DEFAULT, nullptr,
                                      nullptr, &out, nullptr, &status, nullptr);
    kill(server, SIGTERM);
    g_spawn_close_pid(server);
    g_free(self);
    g_strfreev(env);
    ASSERT_TRUE(ran);
    const std::string output = out != nullptr ? out : "";
    g_free(out);
    EXPECT_TRUE(g_spawn_check_wait_status(status, nullptr)) << output;
    EXPECT_NE(std::string::npos, output.find("[  PASSED  ] 4 tests")) << output;
}

}  // namespace
