// Window system (USER) and GDI services for non-Windows builds.
#pragma once

#include "vorn/win/wintypes.h"
