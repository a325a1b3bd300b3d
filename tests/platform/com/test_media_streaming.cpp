// SPDX-License-Identifier: MIT
// Running graphs: samples at the frame rate in the negotiated format, one-shot grabbing
// with completion, audio buffers of the suggested size, and stopping that really stops.
#include <chrono>
#include <cstring>
#include <thread>

#include "com_test.h"
#include "driven_clock.h"

namespace {

using comtest::CaptureGraph;
using comtest::CountingCallback;
using comtest::OnlyCamera;
using comtest::Ptr;
using comtest::VideoGraph;
using namespace std::chrono_literals;
using vmc_test::kMs;

class Streaming : public comtest::MediaTest {
protected:
    // Reads the grabber's buffered sample (size query first, as callers do).
    static std::vector<BYTE> Buffered(ISampleGrabber* grabber) {
        LONG size = 0;
        EXPECT_EQ(grabber->GetCurrentBuffer(&size, nullptr), S_OK);
        std::vector<BYTE> bytes(static_cast<size_t>(size));
        LONG tooSmall = size - 1;
        EXPECT_EQ(grabber->GetCurrentBuffer(&tooSmall, reinterpret_cast<LONG*>(bytes.data())),
                  E_OUTOFMEMORY);
        EXPECT_EQ(grabber->GetCurrentBuffer(&size, reinterpret_cast<LONG*>(bytes.data())), S_OK);
        return bytes;
    }
};

TEST_F(Streaming, OneShotRunsCompleteWithThePictureOfTheirTimeThenStreamingMovesOn) {
    CountingCallback callback;  // outlives the grabber that holds it
    VideoGraph g;
    LONG size = 0, code = 0;
    EXPECT_EQ(g.grabber->GetCurrentBuffer(&size, nullptr), E_INVALIDARG);  // not buffering
    ASSERT_EQ(g.grabber->SetBufferSamples(TRUE), S_OK);
    EXPECT_EQ(g.grabber->GetCurrentBuffer(&size, nullptr), VFW_E_WRONG_STATE);
    ASSERT_EQ(g.grabber->SetOneShot(TRUE), S_OK);
    g.AddRenderer();
    EXPECT_EQ(g.events->WaitForCompletion(0, &code), VFW_E_WRONG_STATE);  // not running
    std::vector<std::vector<BYTE>> frames;
    VornWorld::SetMediaClock(VornWorld::MediaClock::Driven);
    for (size_t run = 0; run < 3; ++run) {
        ASSERT_EQ(g.control->Run(), S_OK);
        ASSERT_TRUE(VornWorld::AdvanceMediaClock(100 * kMs));  // three frame periods at 30 fps
        ASSERT_EQ(g.events->WaitForCompletion(static_cast<LONG>(INFINITE), &code), S_OK);
        EXPECT_EQ(code, EC_COMPLETE);
        frames.push_back(Buffered(g.grabber.get()));
        ASSERT_EQ(frames[run].size(), 640u * 480u * 3u);
        // The camera keeps running between the runs: each shows the picture of its time.
        if (run > 0) {
            EXPECT_NE(frames[run], frames[run - 1]);
        }
    }
    LONG event = 0;
    LONG_PTR first = 0, second = 0;
    EXPECT_EQ(g.events->GetEvent(&event, &first, &second, 0), S_OK);
    EXPECT_EQ(event, EC_COMPLETE);
    ASSERT_EQ(g.control->Stop(), S_OK);

    // A running stream moves on from picture to picture.
    ASSERT_EQ(g.grabber->SetOneShot(FALSE), S_OK);
    ASSERT_EQ(g.grabber->SetCallback(&callback, 1), S_OK);
    ASSERT_EQ(g.control->Run(), S_OK);
    ASSERT_TRUE(VornWorld::AdvanceMediaClock(100 * kMs));
    EXPECT_TRUE(vmc_test::Settled(1));
    ASSERT_EQ(g.control->Stop(), S_OK);
    EXPECT_EQ(callback.calls, 3);
    EXPECT_NE(Buffered(g.grabber.get()), frames[0]);
}

TEST_F(Streaming, WaitEndsByTimeoutOrStop) {
    VornWorld::DeviceConfig silent = VornWorld::DefaultCamera();
    silent.delivers = false;
    VornWorld::DeviceId id = VornWorld::AddDevice(silent, 0);
    VideoGraph g;
    g.grabber->SetOneShot(TRUE);
    g.AddRenderer();
    ASSERT_EQ(g.control->Run(), S_OK);
    LONG code = -1;
    EXPECT_EQ(g.events->WaitForCompletion(100, &code), E_ABORT);
    EXPECT_EQ(code, 0);
    std::thread stopper([&] {
        std::this_thread::sleep_for(100ms);
        EXPECT_EQ(g.control->Stop(), S_OK);
    });
    EXPECT_EQ(g.events->WaitForCompletion(static_cast<LONG>(INFINITE), &code), VFW_E_WRONG_STATE);
    stopper.join();
    EXPECT_EQ(VornWorld::Activity(id).samplesDelivered, 0u);
}

TEST_F(Streaming, AudioIsASineToneInBuffersOfATenthOfASecond) {
    CountingCallback callback;  // outlives the grabber that holds it
    VornWorld::DeviceId id = VornWorld::Devices(VornWorld::MediaKind::Audio).front();
    CaptureGraph g;
    g.Build(CLSID_AudioInputDeviceCategory, 0, MEDIATYPE_Audio, MEDIASUBTYPE_PCM);
    Ptr<IAMBufferNegotiation> negotiation;
    ASSERT_EQ(g.builder->FindInterface(&PIN_CATEGORY_CAPTURE, &MEDIATYPE_Audio, g.device.get(),
                                       IID_IAMBufferNegotiation, negotiation.Void()),
              S_OK);
    ALLOCATOR_PROPERTIES late = {6, 8820, 32, 0};
    EXPECT_EQ(negotiation->SuggestAllocatorProperties(&late), VFW_E_ALREADY_CONNECTED);
    std::vector<VornWorld::AllocatorRequest> asked = VornWorld::Activity(id).allocators;
    ASSERT_EQ(asked.size(), 1u);
    EXPECT_EQ(asked[0].result, VFW_E_ALREADY_CONNECTED);
    EXPECT_EQ(asked[0].properties.cbBuffer, 8820);

    g.grabber->SetCallback(&callback, 1);
    VornWorld::SetMediaClock(VornWorld::MediaClock::Driven);
    ASSERT_EQ(g.control->Run(), S_OK);
    // 1.25 s of the driven clock is 12 buffers; the 13th wants the rest of its span.
    ASSERT_TRUE(VornWorld::AdvanceMediaClock(1000 * kMs));
    ASSERT_TRUE(VornWorld::AdvanceMediaClock(250 * kMs));
    EXPECT_TRUE(vmc_test::Settled(1));
    ASSERT_EQ(g.control->Stop(), S_OK);
    EXPECT_EQ(0, VornWorld::Activity(id).audioLost);
    std::lock_guard<std::mutex> lock(callback.mutex);
    ASSERT_EQ(callback.calls, 12);
    for (size_t i = 0; i < callback.times.size(); ++i) {
        EXPECT_DOUBLE_EQ(0.1 * static_cast<double>(i), callback.times[i]);
        EXPECT_EQ(17640, callback.lengths[i]);  // 44100 Hz, 16 bits, 2 channels, 100 ms
    }
    // A sine at half scale: the loudest sample of 100 ms is near 16384.
    int loudest = 0;
    for (size_t i = 0; i + 1 < callback.last.size(); i += 2) {
        int sample = static_cast<int16_t>(callback.last[i] | (callback.last[i + 1] << 8));
        loudest = std::max(loudest, std::abs(sample));
    }
    EXPECT_NEAR(loudest, 16384, 200);
}

TEST_F(Streaming, OneShotAudioRunsGoOnWhereTheLastEnded) {
    // A tone that does not fit whole periods into a buffer, so a restart would show.
    VornWorld::DeviceConfig microphone = VornWorld::DefaultMicrophone();
    microphone.toneFrequency = 1234.5;
    VornWorld::RemoveAllDevices(VornWorld::MediaKind::Audio);
    VornWorld::AddDevice(microphone);
    std::vector<int> samples;  // the left channel of three one-shot runs, one after another
    for (int run = 0; run < 3; ++run) {
        CaptureGraph g;
        g.Build(CLSID_AudioInputDeviceCategory, 0, MEDIATYPE_Audio, MEDIASUBTYPE_PCM);
        ASSERT_EQ(g.grabber->SetBufferSamples(TRUE), S_OK);
        ASSERT_EQ(g.grabber->SetOneShot(TRUE), S_OK);
        g.AddRenderer();
        LONG code = 0;
        ASSERT_EQ(g.control->Run(), S_OK);
        ASSERT_EQ(g.events->WaitForCompletion(static_cast<LONG>(INFINITE), &code), S_OK);
        const std::vector<BYTE> buffer = Buffered(g.grabber.get());
        ASSERT_EQ(g.control->Stop(), S_OK);
        for (size_t i = 0; i + 3 < buffer.size(); i += 4)
            samples.push_back(static_cast<int16_t>(buffer[i] | buffer[i + 1] << 8));
    }
    // Continuous: no step between neighbours is larger than the sine's steepest, also across
    // the joins of the runs.
    const double steepest = 16384 * 2 * 3.14159265 * 1234.5 / 44100;
    for (size_t i = 1; i < samples.size(); ++i)
        ASSERT_LE(std::abs(samples[i] - samples[i - 1]), steepest + 2) << "at sample " << i;
}

TEST_F(Streaming, SuggestedBufferSizeIsUsed) {
    CountingCallback callback;  // outlives the grabber that holds it
    Ptr<IBaseFilter> device, grabberFilter;
    *device.Out() = comtest::BindDevice(CLSID_AudioInputDeviceCategory, 0);
    Ptr<IPin> pin, in;
    *pin.Out() = comtest::FirstPin(device.get(), PINDIR_OUTPUT);
    Ptr<IAMBufferNegotiation> negotiation;
    ASSERT_EQ(pin->QueryInterface(IID_IAMBufferNegotiation, negotiation.Void()), S_OK);
    ALLOCATOR_PROPERTIES wanted = {6, 3530, 4, 0};  // not a whole number of blocks
    ASSERT_EQ(negotiation->SuggestAllocatorProperties(&wanted), S_OK);
    Ptr<IGraphBuilder> graph;
    Ptr<ISampleGrabber> grabber;
    ASSERT_EQ(CoCreateInstance(CLSID_FilterGraph, nullptr, CLSCTX_INPROC_SERVER, IID_IGraphBuilder,
                               graph.Void()),
              S_OK);
    ASSERT_EQ(CoCreateInstance(comtest::kSampleGrabber, nullptr, CLSCTX_INPROC_SERVER,
                               IID_ISampleGrabber, grabber.Void()),
              S_OK);
    grabber->QueryInterface(IID_IBaseFilter, grabberFilter.Void());
    graph->AddFilter(device.get(), L"Audio Capture");
    graph->AddFilter(grabberFilter.get(), L"Grabber");
    *in.Out() = comtest::FirstPin(grabberFilter.get(), PINDIR_INPUT);
    ASSERT_EQ(graph->ConnectDirect(pin.get(), in.get(), nullptr), S_OK);
    ALLOCATOR_PROPERTIES actual{};
    ASSERT_EQ(negotiation->GetAllocatorProperties(&actual), S_OK);
    EXPECT_EQ(actual.cbBuffer, 3528);
    EXPECT_EQ(actual.cBuffers, 6);
    grabber->SetCallback(&callback, 1);
    Ptr<IMediaControl> control;
    graph->QueryInterface(IID_IMediaControl, control.Void());
    ASSERT_EQ(control->Run(), S_OK);
    while (callback.calls < 1) std::this_thread::sleep_for(5ms);
    ASSERT_EQ(control->Stop(), S_OK);
    std::lock_guard<std::mutex> lock(callback.mutex);
    EXPECT_EQ(callback.lengths[0], 3528);
}

TEST_F(Streaming, NoCallbackAfterStopOrPauseReturns) {
    OnlyCamera({MEDIASUBTYPE_RGB24, 160, 120, 0, 0, 1, 1, 100.0, 200.0});
    for (int round = 0; round < 5; ++round) {
        CountingCallback callback;
        VideoGraph g;
        g.grabber->SetCallback(&callback, 1);
        ASSERT_EQ(g.control->Run(), S_OK);
        while (callback.calls < 3) std::this_thread::sleep_for(1ms);
        ASSERT_EQ(round % 2 == 0 ? g.control->Stop() : g.control->Pause(), S_OK);
        int seen = callback.calls;
        std::this_thread::sleep_for(30ms);
        EXPECT_EQ(callback.calls.load(), seen);
        EXPECT_EQ(VornWorld::LiveStreamingThreads(), 0);
        if (round == 4) {  // released while running: stops and joins
            ASSERT_EQ(g.control->Run(), S_OK);
        }
    }
}

}  // namespace
