// SPDX-License-Identifier: MIT
// Marks the classes that the VornMediaCapture library exports.
#pragma once

#if defined(_WIN32)
#if defined(VMC_BUILDING_LIBRARY)
#define TQZ_API __declspec(dllexport)
#else
#define TQZ_API __declspec(dllimport)
#endif
#else
#define TQZ_API __attribute__((visibility("default")))
#endif
