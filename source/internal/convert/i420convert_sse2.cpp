// SPDX-License-Identifier: MIT
// The SSE2 row (see i420simd.h).
#define VMC_I420_SIMD_TARGET "sse2"
#define VMC_I420_SIMD_ROW Sse2Row
#define VMC_I420_SIMD_LAYOUT Planar
#include "internal/convert/i420simd.h"
