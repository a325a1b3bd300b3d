// SPDX-License-Identifier: MIT
// The classes of the media-graph services: CoCreateInstance factories and the filters that
// the services make for themselves.
#pragma once

#include <memory>
#include <string>

#include "vorn/win/com.h"
#include "vorn/win/dshow.h"
#include "world/media.h"

namespace VornCom {

// The sample grabber and the null renderer, known by value only (no header declares them).
inline const CLSID kSampleGrabber = {
    0xC1F400A0, 0x3F08, 0x11D3, {0x9F, 0x0B, 0x00, 0x60, 0x08, 0x03, 0x9E, 0x37}};
inline const CLSID kNullRenderer = {
    0xC1F400A4, 0x3F08, 0x11D3, {0x9F, 0x0B, 0x00, 0x60, 0x08, 0x03, 0x9E, 0x37}};

class Filter;

HRESULT CreateFilterGraph(REFIID iid, void** out);
HRESULT CreateCaptureGraphBuilder(REFIID iid, void** out);
HRESULT CreateDeviceEnumerator(REFIID iid, void** out);
HRESULT CreateSampleGrabber(REFIID iid, void** out);
HRESULT CreateNullRenderer(REFIID iid, void** out);

// The capture filter of a device, with one reference.
Filter* NewCaptureFilter(const VornWorld::DeviceHandle& device);
// A colour converter (any supported video format to RGB24 or RGB32), with one reference.
Filter* NewConverter();
class Pin;
// The crossbar upstream of a capture filter, or null; no reference added.
Filter* CrossbarOf(Filter* capture);
// The crossbar output that feeds the capture filter's analog input, or null.
Pin* CrossbarFeed(Filter* crossbar);
// The crossbar of a video device, with one reference.
Filter* NewCrossbar(const VornWorld::DeviceHandle& device);
// A pin of the analog side (a crossbar connector, or a capture filter's analog input); it
// carries no samples.
std::unique_ptr<Pin> NewAnalogPin(Filter* owner, std::wstring name, PIN_DIRECTION direction,
                                  bool video);

}  // namespace VornCom
