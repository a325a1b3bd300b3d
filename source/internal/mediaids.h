// Class identifiers that the import libraries of some Windows toolchains lack, defined once
// for every system.
#pragma once

#include "vornplatform.h"

namespace TQZCapture {
namespace internal {

// The sample grabber filter: {C1F400A0-3F08-11D3-9F0B-006008039E37}.
extern const CLSID kClsidSampleGrabber;
// The null renderer filter: {C1F400A4-3F08-11D3-9F0B-006008039E37}.
extern const CLSID kClsidNullRenderer;

}  // namespace internal
}  // namespace TQZCapture
