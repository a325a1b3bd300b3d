// Graph steps that every media-graph device uses, push and pull alike.
#pragma once

#include "vornplatform.h"

namespace TQZCapture {
namespace internal {

// Binds the capture filter of the device at `index` of a device category into `*filter`.
// Every moniker counts toward the position, also one whose name cannot be read; the device at
// `index` is bound only when its friendly name can be read, and a failing bind leaves
// `*filter` null. The walk ends at `index` or when the category runs out of monikers. False
// for a negative index, no system device enumerator, or an empty or unreadable category; true
// otherwise, also when no device was at `index`.
bool BindCategoryFilter(REFCLSID category, int index, IBaseFilter** filter);

// Releases what a media type record holds (format block, object reference); the record stays.
void FreeMediaType(AM_MEDIA_TYPE& type);
// FreeMediaType, then frees the record itself (one the platform allocated); null is ignored.
void DeleteMediaType(AM_MEDIA_TYPE* type);

}  // namespace internal
}  // namespace TQZCapture
