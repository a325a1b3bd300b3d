// Enumerators of pins and media types over a snapshot taken when they are made.
#pragma once

#include <windows.h>

#include <dshow.h>

#include <vector>

#include "formats.h"

namespace VornDevices {

// An enumerator over `pins`, which belong to `filter`; it holds the filter.
HRESULT NewPinEnumerator(IUnknown* filter, std::vector<IPin*> pins, IEnumPins** out);
// An enumerator over copies of `types`.
HRESULT NewTypeEnumerator(std::vector<MediaType> types, IEnumMediaTypes** out);

}  // namespace VornDevices
