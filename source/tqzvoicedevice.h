// SPDX-License-Identifier: MIT
#pragma once

#include "tqzaudiodevice.h"
#include "tqzcompointer.h"
#include "tqzexport.h"
#include "tqzpacketset.h"
#include "vornplatform.h"

namespace TQZCapture {

class TQZPacket;

// One device of the platform's audio input category, grabbed one buffer at a time on demand:
// the audio twin of TQZCameraDevice, with the same graph (device -> sample grabber "Grabber",
// fixed to PCM -> null renderer "NullRenderer"), the same fields, the same Get, Query, Close,
// Pause, BindFilter (over the audio input category), SetCrossBar (which still looks for video
// connectors), copies, COM handling and threading. See TQZCameraDevice for those.
//
// Open asks the device for SampleRate, BitsPerSample and Channels: it writes them into the
// device's current WAVEFORMATEX (wFormatTag PCM, nBlockAlign = bits x channels / 8,
// nAvgBytesPerSec = nBlockAlign x rate) and hands it to the device. When the device accepts,
// the three fields take the values written; when it refuses, they keep the request and Open
// goes on (no box). Nothing is read back after connecting.
//  - The rate field of the format is 16 bits wide here: nSamplesPerSec gets the low 16 bits of
//    SampleRate. Rates of 65536 Hz and above therefore reach the device changed (96000 Hz is
//    written as 30464 Hz), and SampleRate reads the written value once the device accepts.
//  - A device whose current format is not a WAVEFORMATEX block at least as long as the fields
//    written (format type FORMAT_WaveFormatEx, 16 bytes) is never written into: it is treated
//    as a refused format, and Open goes on.
// Then Open suggests buffers to the device: 6 buffers of 50 milliseconds of audio each
// (BitsPerSample x SampleRate x Channels / 8 bytes per second, x 0.05), aligned to bits x
// channels (in bits), no prefix; 44100 Hz, 16 bits, 2 channels give 6 x 8820 bytes aligned
// to 32. No suggestion is made when that byte rate or alignment does not fit in a signed
// 32-bit value.
// Boxes as for TQZCameraDevice, with the same texts (the word "Video" included), except
// "Create audio AMStreamConfig " and "Create audio IAMBufferNegotiation ".
//
// Get and Query hand out packets holding one grabbed buffer of PCM audio in the connected
// format (normally 50 milliseconds), DataType and DeviceType of the device (DataTypePCM and
// DeviceTypeAudio by default), TimeStamp the tick count in milliseconds. The wait for a buffer
// is bounded to 3 seconds, as for TQZCameraDevice.
class TQZ_API TQZVoiceDevice : public TQZAudioDevice {
public:
    TQZVoiceDevice();
    // Copies the description of `source` (not SampleRate, BitsPerSample, Channels, graph or
    // packets); null: as the default constructor.
    explicit TQZVoiceDevice(const TQZVoiceDevice* source);
    TQZVoiceDevice(const TQZVoiceDevice& other);
    TQZVoiceDevice& operator=(const TQZVoiceDevice& other);
    ~TQZVoiceDevice() override;

    bool Open() override;
    bool Close() override;
    bool Pause() override;
    TQZPacket* Query() override;
    TQZPacket* Get() override;
    void OnError(unsigned int code) override;
    void OnOpenBefore(void* callback) override;  // ignores the callback
    void OnCloseBefore() override;
    virtual void OnOpenAfter();
    virtual void OnCloseAfter();

    bool Opened;
    TQZComPointer<IGraphBuilder> Graph;
    TQZComPointer<IMediaControl> MediaControl;
    TQZComPointer<IBaseFilter> DeviceFilter;
    TQZComPointer<IBaseFilter> SampleGrabberFilter;
    TQZComPointer<ISampleGrabber> SampleGrabber;
    TQZComPointer<IPin> GrabberInputPin;
    TQZComPointer<IPin> GrabberOutputPin;
    TQZComPointer<IPin> DeviceOutputPin;
    TQZComPointer<IMediaEvent> MediaEvent;
    TQZComPointer<IBaseFilter> NullRenderer;
    TQZComPointer<IPin> NullRendererInputPin;
    TQZPacketSet Packets;

protected:
    bool BindFilter(int index, IBaseFilter** filter);
    void SetCrossBar();
};

}  // namespace TQZCapture
