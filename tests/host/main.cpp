// SPDX-License-Identifier: MIT
// The host-world suite runs in the host world whatever the environment says; run with the
// lost-display variable set, the program is the capturing side of that test instead.
#include <gtest/gtest.h>

#include <cstdlib>

#include "lost_display.h"

int main(int argc, char** argv) {
    setenv("VORN_WORLD", "host", 1);
    if (std::getenv(kLostDisplayChild) != nullptr) return RunLostDisplayChild();
    ::testing::InitGoogleTest(&argc, argv);
    return RUN_ALL_TESTS();
}
