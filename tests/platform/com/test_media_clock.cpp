// SPDX-License-Identifier: MIT
// The driven media clock: a running graph delivers exactly the frames and audio of the time the
// clock was moved on, stamped on that time, and nothing while it stands still; stopping still
// ends a waiting read at once, and the free clock takes over where the driven one stood.
#include <chrono>
#include <thread>

#include "com_test.h"
#include "driven_clock.h"

namespace {

using comtest::CaptureGraph;
using comtest::CountingCallback;
using namespace std::chrono_literals;

using vmc_test::kMs;
using vmc_test::Settled;

class MediaClockTest : public comtest::MediaTest {
protected:
    void SetUp() override {
        comtest::MediaTest::SetUp();
        VornWorld::SetMediaClock(VornWorld::MediaClock::Driven);
    }
    void TearDown() override { VornWorld::SetMediaClock(VornWorld::MediaClock::Free); }

    static VornWorld::DeviceId OnlyCamera(double fps, const GUID& subtype = MEDIASUBTYPE_RGB24) {
        return comtest::OnlyCamera({subtype, 160, 120, 0, 0, 1, 1, 1.0, fps});
    }
    static size_t Calls(CountingCallback& callback) {
        std::lock_guard<std::mutex> lock(callback.mutex);
        return callback.times.size();
    }
};

// The frames of exactly the time advanced, in steps that do and do not end on a frame, whole
// RGB24 frames also where a converter stands between camera and grabber; one streaming thread
// while the graph runs, none once it stopped.
TEST_F(MediaClockTest, VideoDeliversTheFramesOfTheAdvancedTimeStampedOnIt) {
    struct Case {
        double fps;
        std::vector<REFERENCE_TIME> steps;
        size_t frames;
        GUID subtype;
    };
    const Case cases[] = {
        {20.0, {10000 * kMs}, 200, MEDIASUBTYPE_RGB24},
        {20.0, {49 * kMs, 1 * kMs, 124 * kMs}, 3, MEDIASUBTYPE_RGB24},
        {30.0, {1000 * kMs}, 30, MEDIASUBTYPE_RGB24},  // 333333 units a frame: 30 in the second
        {7.0, {500 * kMs, 500 * kMs}, 7, MEDIASUBTYPE_RGB24},
        {20.0, {1000 * kMs}, 20, MEDIASUBTYPE_YUY2},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(testing::Message() << c.fps << " fps, " << c.frames << " frames");
        VornWorld::SetMediaClock(VornWorld::MediaClock::Driven);
        CountingCallback callback;  // outlives the grabber that holds it
        const VornWorld::DeviceId id = OnlyCamera(c.fps, c.subtype);
        CaptureGraph g;
        g.Build(CLSID_VideoInputDeviceCategory, 0, MEDIATYPE_Video, MEDIASUBTYPE_RGB24);
        ASSERT_EQ(S_OK, g.grabber->SetCallback(&callback, 1));
        ASSERT_EQ(S_OK, g.control->Run());
        EXPECT_EQ(1, VornWorld::LiveStreamingThreads());
        for (REFERENCE_TIME step : c.steps) ASSERT_TRUE(VornWorld::AdvanceMediaClock(step));
        EXPECT_TRUE(Settled(1));
        ASSERT_EQ(S_OK, g.control->Stop());
        EXPECT_EQ(0, VornWorld::LiveStreamingThreads());
        const REFERENCE_TIME interval = static_cast<REFERENCE_TIME>(10000000 / c.fps);
        std::lock_guard<std::mutex> lock(callback.mutex);
        ASSERT_EQ(c.frames, callback.times.size());
        EXPECT_EQ(c.frames, VornWorld::Activity(id).samplesDelivered);
        for (size_t i = 0; i < callback.times.size(); ++i) {
            EXPECT_DOUBLE_EQ(static_cast<double>(interval * static_cast<REFERENCE_TIME>(i)) / 1e7,
                             callback.times[i]);
            EXPECT_EQ(160 * 120 * 3, callback.lengths[i]);
        }
    }
}

// One step wakes every waiting source; while the clock stands still none delivers.
TEST_F(MediaClockTest, NothingComesWithoutAStepAndOneStepWakesEverySource) {
    CountingCallback frames, sound;  // outlive the grabbers that hold them
    OnlyCamera(20.0);
    CaptureGraph video, audio;
    video.Build(CLSID_VideoInputDeviceCategory, 0, MEDIATYPE_Video, MEDIASUBTYPE_RGB24);
    audio.Build(CLSID_AudioInputDeviceCategory, 0, MEDIATYPE_Audio, MEDIASUBTYPE_PCM);
    ASSERT_EQ(S_OK, video.grabber->SetCallback(&frames, 1));
    ASSERT_EQ(S_OK, audio.grabber->SetCallback(&sound, 1));
    ASSERT_EQ(S_OK, video.control->Run());
    ASSERT_EQ(S_OK, audio.control->Run());
    for (REFERENCE_TIME step : {REFERENCE_TIME{0}, 49 * kMs}) {  // short of the first frame
        ASSERT_TRUE(VornWorld::AdvanceMediaClock(step));
        ASSERT_TRUE(Settled(2));
        EXPECT_EQ(0u, Calls(frames));
        EXPECT_EQ(0u, Calls(sound));
    }
    ASSERT_TRUE(VornWorld::AdvanceMediaClock(451 * kMs));
    EXPECT_TRUE(Settled(2));
    EXPECT_EQ(10u, Calls(frames));
    EXPECT_EQ(5u, Calls(sound));
    ASSERT_EQ(S_OK, video.control->Stop());
    ASSERT_EQ(S_OK, audio.control->Stop());
}

// A read waiting for a step that never comes ends with Stop, and with the clock set free.
TEST_F(MediaClockTest, WaitingReadsEndByStopOrByTheFreeClock) {
    CountingCallback callback;  // outlives the grabber that holds it
    OnlyCamera(20.0);
    CaptureGraph g;
    g.Build(CLSID_VideoInputDeviceCategory, 0, MEDIATYPE_Video, MEDIASUBTYPE_RGB24);
    ASSERT_EQ(S_OK, g.grabber->SetCallback(&callback, 1));
    ASSERT_EQ(S_OK, g.control->Run());
    ASSERT_TRUE(Settled(1));
    const auto before = std::chrono::steady_clock::now();
    ASSERT_EQ(S_OK, g.control->Stop());
    EXPECT_LT(std::chrono::steady_clock::now() - before, 5s);
    EXPECT_EQ(0u, Calls(callback));

    ASSERT_EQ(S_OK, g.control->Run());
    VornWorld::SetMediaClock(VornWorld::MediaClock::Free);
    const auto deadline = std::chrono::steady_clock::now() + 20s;
    while (Calls(callback) < 2 && std::chrono::steady_clock::now() < deadline)
        std::this_thread::sleep_for(5ms);
    EXPECT_GE(Calls(callback), 2u) << "free again: it runs on real time";
    ASSERT_EQ(S_OK, g.control->Stop());
}

// The picture follows the driven time: runs begun at one time show one picture, a step on
// shows another, whatever time passed in between.
TEST_F(MediaClockTest, OneShotPicturesFollowTheDrivenTime) {
    auto grab = [] {
        CaptureGraph g;
        g.Build(CLSID_VideoInputDeviceCategory, 0, MEDIATYPE_Video, MEDIASUBTYPE_RGB24);
        EXPECT_EQ(S_OK, g.grabber->SetBufferSamples(TRUE));
        EXPECT_EQ(S_OK, g.grabber->SetOneShot(TRUE));
        g.AddRenderer();
        EXPECT_EQ(S_OK, g.control->Run());
        LONG code = 0;
        EXPECT_EQ(E_ABORT, g.events->WaitForCompletion(0, &code)) << "no frame before a step";
        EXPECT_TRUE(VornWorld::AdvanceMediaClock(50 * kMs));
        EXPECT_EQ(S_OK, g.events->WaitForCompletion(static_cast<LONG>(INFINITE), &code));
        LONG size = 0;
        EXPECT_EQ(S_OK, g.grabber->GetCurrentBuffer(&size, nullptr));
        std::vector<BYTE> frame(static_cast<size_t>(size));
        EXPECT_EQ(S_OK, g.grabber->GetCurrentBuffer(&size, reinterpret_cast<LONG*>(frame.data())));
        EXPECT_EQ(S_OK, g.control->Stop());
        return frame;
    };
    OnlyCamera(20.0);
    const std::vector<BYTE> first = grab();
    VornWorld::SetMediaClock(VornWorld::MediaClock::Driven);  // back to 0
    EXPECT_EQ(first, grab());
    EXPECT_NE(first, grab());  // begun 50 ms later
}

}  // namespace
