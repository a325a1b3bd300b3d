// The classes of the media-graph services: CoCreateInstance factories and the filters that
// the services make for themselves.
#pragma once

#include "vorn/win/com.h"
#include "world/media.h"

namespace VornCom {

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

}  // namespace VornCom
