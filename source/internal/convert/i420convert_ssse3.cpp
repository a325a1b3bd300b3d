// SPDX-License-Identifier: MIT
// The SSSE3 row (see i420simd.h).
#define VMC_I420_SIMD_TARGET "ssse3"
#define VMC_I420_SIMD_ROW Ssse3Row
#define VMC_I420_SIMD_LAYOUT Paired<16>
#include "internal/convert/i420simd.h"
