// Component runtime (COM, OLE Automation basics) for non-Windows builds.
#pragma once

#include "vorn/win/wintypes.h"
