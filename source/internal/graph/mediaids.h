// SPDX-License-Identifier: MIT
// Class identifiers that the import libraries of some Windows toolchains lack, defined once
// for the library and its tests on every system.
#pragma once

#include "vornplatform.h"

namespace TQZCapture {
namespace internal {

// The sample grabber filter.
inline const CLSID kClsidSampleGrabber = {
    0xC1F400A0, 0x3F08, 0x11D3, {0x9F, 0x0B, 0x00, 0x60, 0x08, 0x03, 0x9E, 0x37}};
// The null renderer filter.
inline const CLSID kClsidNullRenderer = {
    0xC1F400A4, 0x3F08, 0x11D3, {0x9F, 0x0B, 0x00, 0x60, 0x08, 0x03, 0x9E, 0x37}};

}  // namespace internal
}  // namespace TQZCapture
