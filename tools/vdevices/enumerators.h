// SPDX-License-Identifier: MIT
// Enumerators of pins and media types over a snapshot taken when they are made: the shared
// enumerator over the DLL's COM object.
#pragma once

#include <windows.h>

#include <dshow.h>

#include <vector>

#include "formats.h"

namespace VornDevices {

// An enumerator over `pins`, each held (and with it the filter) while it lives.
HRESULT NewPinEnumerator(const std::vector<IPin*>& pins, IEnumPins** out);
// An enumerator over copies of `types`.
HRESULT NewTypeEnumerator(std::vector<MediaType> types, IEnumMediaTypes** out);

}  // namespace VornDevices
