// SPDX-License-Identifier: MIT
// The AVX2 row (see i420simd.h).
#define VMC_I420_SIMD_TARGET "avx2"
#define VMC_I420_SIMD_ROW Avx2Row
#define VMC_I420_SIMD_LAYOUT Paired<32>
#include "internal/convert/i420simd.h"
