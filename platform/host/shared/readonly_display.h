// SPDX-License-Identifier: MIT
// What every display of the host world shares: the windows on it belong to other programs,
// so this world makes, retitles and destroys none.
#pragma once

#include <string>

#include "vorn/win/kernel.h"
#include "world/display.h"

namespace VornWorld {
namespace host {

class ReadOnlyDisplay : public display::DisplayService {
public:
    bool RetitleWindow(HWND, const std::string&) override { return false; }
    HWND CreateWindowInWorld(const display::NewWindow&) override {
        SetLastError(ERROR_ACCESS_DENIED);
        return nullptr;
    }
    bool DestroyWindowInWorld(HWND) override { return false; }
    bool ClassHasWindows(const std::string&) override { return false; }
};

}  // namespace host
}  // namespace VornWorld
