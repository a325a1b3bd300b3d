// Media-graph framework interfaces for non-Windows builds.
#pragma once

#include "vorn/win/com.h"
