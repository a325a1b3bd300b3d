// SPDX-License-Identifier: MIT
#pragma once

#include "icaptureaudiocallback.h"
#include "tqzaudiodevice.h"
#include "tqzcompointer.h"
#include "tqzexport.h"
#include "tqzpacketset.h"
#include "tqzsamplegrabbercb.h"
#include "vornplatform.h"

namespace TQZCapture {

// An audio input device of the media graph that pushes every PCM buffer to the host's
// ICaptureAudioCallBack::OnAudioFrame, on the graph's streaming thread.
//
// Use: OnOpenBefore(callback), Open(), OnOpenAFter() / OnOpenAfter(); buffers arrive;
// OnCloseBefore(), Close(), OnCloseAFter() / OnCloseAfter(). Open opens the device at position
// Index of the audio input category, asks its pin for SampleRate, BitsPerSample and Channels
// with buffers of 20 milliseconds, and runs. A pin that refuses the format keeps its own, and
// the buffers then come in whatever PCM format the connection settles on.
// Buffers: the graph's own memory, valid only during the call; nothing is copied or queued.
// Query returns null; Get returns the queue's result packet, which stays empty.
// Callback: stored by OnOpenBefore and forgotten already by OnCloseBefore, while the graph may
// still run: a buffer whose delivery had begun may still reach the callback until Close has
// returned, so keep the callback alive until then. No buffer arrives after Close.
// Failures: every failing step of Open, Close and Pause shows a message box (no owner, OK) and
// the operation returns false. Whatever a failed Open obtained is released by the next Close,
// Open or the destructor; SpareInterface only by the destructor.
//
// Choices of this implementation:
// - A format whose products do not fit the wave format record (bits x rate x channels above
//   2147483647, bits x channels above 65535) is refused: SetAudioCapFormat leaves the pin
//   alone (result 1 as always), UpdateAudioCapOpt answers E_INVALIDARG after storing its
//   arguments.
// - A pin's format is written only where it is a readable wave format record
//   (FORMAT_WaveFormatEx, at least 18 bytes).
// - UpdateAudioCapOpt answers the status of SetFormat when it has taken a capability.
// - The destructor stops a graph that is still running (no box) before releasing it, so the
//   device is never called after it is destroyed. A copy shares the original's graph, whose
//   grabber still calls the original: destroying either one stops that graph.
// - The copy constructor initialises COM once more, to match the destructor's uninitialise.
// Threading: call every operation from host threads, one at a time; only FrameHandler runs on
// the streaming thread.
class TQZ_API TQZUSBAudioDevice : public TQZAudioDevice, public TQZSampleGrabberCB {
public:
    TQZUSBAudioDevice();
    explicit TQZUSBAudioDevice(const TQZAudioDevice* source);
    TQZUSBAudioDevice(const TQZUSBAudioDevice& other);
    TQZUSBAudioDevice& operator=(const TQZUSBAudioDevice& other);
    ~TQZUSBAudioDevice() override;

    bool Open() override;
    bool Close() override;
    bool Pause() override;
    TQZPacket* Query() override;
    TQZPacket* Get() override;
    void OnError(unsigned int code) override;
    void OnOpenBefore(void* callback) override;
    void OnCloseBefore() override;
    virtual void OnOpenAfter();
    virtual void OnCloseAfter();

    TQZComPointer<IGraphBuilder> Graph;
    TQZComPointer<IBaseFilter> CaptureFilter;
    TQZComPointer<IMediaControl> MediaControl;
    TQZComPointer<ISampleGrabber> SampleGrabber;
    TQZComPointer<IMediaEvent> MediaEvent;
    TQZComPointer<IBasicAudio> BasicAudio;
    TQZComPointer<ICaptureGraphBuilder2> CaptureBuilder;
    TQZComPointer<IBaseFilter> SpareFilter;
    TQZComPointer<IUnknown> SpareInterface;
    TQZPacketSet Packets;
    ICaptureAudioCallBack* CallBack;

protected:
    void FrameHandler(double sampleTime, unsigned char* data, long length) override;

    // Binds the capture filter of the device at `index` of the audio input category into
    // `*filter`. False for a negative index or an empty category.
    bool BindFilter(int index, IBaseFilter** filter);
    // Every output pin of `source` against every input pin of `target`, direct connections.
    long ConnectFilters(TQZComPointer<IGraphBuilder> graph, TQZComPointer<IBaseFilter> source,
                        TQZComPointer<IBaseFilter> target);
    long GetPin(IBaseFilter* filter, PIN_DIRECTION direction, IPin** pin);
    unsigned int EnumPinsOnFilter(IBaseFilter* filter, PIN_DIRECTION direction);
    void FreeMediaType(AM_MEDIA_TYPE& type);
    void DeleteMediaType(AM_MEDIA_TYPE* type);
    // Asks the capture filter's first output pin (first input pin for outputPin 0), ten times,
    // for six 20-millisecond buffers and the wave format; on success the three fields take
    // the values. Always 1.
    long SetAudioCapFormat(unsigned int outputPin, unsigned int sampleRate,
                           unsigned int bitsPerSample, unsigned int channels);
    // Stores the three values, then sets them through the first PCM capability of the capture
    // pin. E_FAIL when the pin lists none.
    long UpdateAudioCapOpt(unsigned int unused, unsigned int sampleRate, unsigned int bitsPerSample,
                           unsigned int channels);
};

}  // namespace TQZCapture
