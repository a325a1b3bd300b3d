// SPDX-License-Identifier: MIT
// The program's second role: the capturing process of the lost-display test.
#pragma once

// Set in the environment of the program run as that process.
constexpr const char* kLostDisplayChild = "VORN_TEST_LOST_DISPLAY_CHILD";
int RunLostDisplayChild();
