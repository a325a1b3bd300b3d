// SPDX-License-Identifier: MIT
#pragma once

#include "icapturevideocallback.h"
#include "tqzcompointer.h"
#include "tqzexport.h"
#include "tqzpacketset.h"
#include "tqzsamplegrabbercb.h"
#include "tqzvideodevice.h"
#include "vornplatform.h"

namespace TQZCapture {

// A video input device of the media graph (camera, capture card) that pushes every frame to
// the host's ICaptureVideoCallBack::OnVideoFrame, on the graph's streaming thread.
//
// Use: OnOpenBefore(callback), Open(), OnOpenAFter(); frames arrive; OnCloseBefore(), Close(),
// OnCloseAFter(). Open opens the device at position Index of the video input category, asks
// its capture pin for Width x Height at FrameRate as I420, then YUY2, then 24-bit RGB (the
// first the pin accepts), and always hands the host 24-bit RGB frames (DataType becomes
// DataTypeRGB24). Width and Height then hold the size the pin reports.
// Frames: the graph's own buffer, valid only during the call; nothing is copied or queued, so
// Get and Query return null.
// Callback: stored by OnOpenBefore, forgotten by OnCloseAFter; keep it alive until
// OnCloseAFter has returned. Close stops the graph before it returns, so no frame arrives
// after Close.
// Failures: every failing step of Open, Close and Pause shows a message box (no owner, OK) and
// the operation returns false. Whatever a failed Open obtained is released by the next Close,
// Open or the destructor.
//
// Choices of this implementation:
// - FrameRate 0 is taken as 20 frames per second.
// - UpdateVideoCapOpt answers E_FAIL for a capability of the wanted subtype whose format block
//   is missing, shorter than a VIDEOINFOHEADER or not FORMAT_VideoInfo, without reading it.
// - A width or height above 2147483647 cannot be asked of a pin: both format operations
//   answer E_INVALIDARG without touching the pin.
// - A height that a pin reports as negative (top-down rows) is stored as its magnitude.
// - The destructor stops a graph that is still running (no box) before releasing it, so the
//   device is never called after it is destroyed. A copy shares the original's graph, whose
//   grabber still calls the original: destroying either one stops that graph.
// - The copy constructor initialises COM once more, to match the destructor's uninitialise.
// Threading: call every operation from host threads, one at a time; only FrameHandler runs on
// the streaming thread.
class TQZ_API TQZUSBVideoDevice : public TQZVideoDevice, public TQZSampleGrabberCB {
public:
    TQZUSBVideoDevice();
    explicit TQZUSBVideoDevice(const TQZVideoDevice* source);
    TQZUSBVideoDevice(const TQZUSBVideoDevice& other);
    TQZUSBVideoDevice& operator=(const TQZUSBVideoDevice& other);
    ~TQZUSBVideoDevice() override;

    bool Open() override;
    bool Close() override;
    bool Pause() override;
    TQZPacket* Query() override;
    TQZPacket* Get() override;
    void OnError(unsigned int code) override;
    void OnOpenBefore(void* callback) override;
    void OnOpenAFter() override;
    void OnCloseBefore() override;
    void OnCloseAFter() override;

    TQZComPointer<IGraphBuilder> Graph;
    TQZComPointer<IBaseFilter> CaptureFilter;
    TQZComPointer<IMediaControl> MediaControl;
    TQZComPointer<ISampleGrabber> SampleGrabber;
    TQZComPointer<IMediaEvent> MediaEvent;
    TQZComPointer<IVideoWindow> VideoWindow;
    TQZComPointer<IBasicVideo> BasicVideo;
    TQZComPointer<ICaptureGraphBuilder2> CaptureBuilder;
    TQZComPointer<IBaseFilter> SpareFilter;
    TQZPacketSet Packets;
    ICaptureVideoCallBack* CallBack;

protected:
    void FrameHandler(double sampleTime, unsigned char* data, long length) override;

    // Binds the capture filter of the device at `index` of the video input category into
    // `*filter` (see Open). False for a negative index or an empty category.
    bool BindFilter(int index, IBaseFilter** filter);
    // First output pin of `source` to first input pin of `target`, through Graph.
    long ConnectFilters(IBaseFilter* source, IBaseFilter* target);
    // Every output pin of `source` against every input pin of `target`, direct connections.
    long ConnectFilters(TQZComPointer<IGraphBuilder> graph, TQZComPointer<IBaseFilter> source,
                        TQZComPointer<IBaseFilter> target);
    long GetPin(IBaseFilter* filter, PIN_DIRECTION direction, IPin** pin);
    void FreeMediaType(AM_MEDIA_TYPE& type);
    void DeleteMediaType(AM_MEDIA_TYPE* type);
    // Sets the capture pin's capability of exactly that subtype and size, with the frame
    // rate. E_FAIL for a type outside I420, RGB24, RGB32, YUY2, YV12 or when no capability fits.
    long SetVideoCapFormat(unsigned int width, unsigned int height, unsigned int frameRate,
                           TQZDataType type);
    // Forces size and frame rate into the first capability of the output pin with that
    // subtype (I420 for a type outside the table); useMaxSize: the capability's largest size.
    long UpdateVideoCapOpt(unsigned int width, unsigned int height, unsigned int frameRate,
                           TQZDataType type, bool useMaxSize);
};

}  // namespace TQZCapture
