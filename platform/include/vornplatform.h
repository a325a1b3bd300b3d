// SPDX-License-Identifier: MIT
// The one header through which the library reaches the operating system: the real
// Windows headers on Windows, the project's own platform layer everywhere else.
#pragma once

#if defined(_WIN32)
#ifndef NOMINMAX
#define NOMINMAX
#endif
// The media-graph headers pull in the safe-string header, whose deprecation macros would
// otherwise break the standard library's wide-string functions included after them.
#ifndef STRSAFE_NO_DEPRECATE
#define STRSAFE_NO_DEPRECATE
#endif
#include <windows.h>
#include <objbase.h>
#include <oleauto.h>
#include <dshow.h>
#include <qedit.h>
#include <wmcodecdsp.h>  // MEDIASUBTYPE_I420
#else
#include "vorn/win/wintypes.h"
#include "vorn/win/kernel.h"
#include "vorn/win/gdi.h"
#include "vorn/win/com.h"
#include "vorn/win/dshow.h"
#endif
