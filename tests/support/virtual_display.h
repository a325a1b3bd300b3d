// SPDX-License-Identifier: MIT
// A fixture for tests on the virtual display: each starts from the default display without
// faults, and may leave no device context or GDI object behind.
#pragma once

#include <gtest/gtest.h>

#include "vorn/control/display.h"
#include "vorn/control/faults.h"

class DisplayTest : public ::testing::Test {
protected:
    void SetUp() override {
        VornWorld::ResetDisplay();
        VornWorld::ClearFaults();
        VornWorld::EchoMessageBoxes(false);
        dcs_ = VornWorld::LiveDeviceContexts();
        objects_ = VornWorld::LiveGdiObjects();
    }
    void TearDown() override {
        VornWorld::ClearFaults();
        EXPECT_EQ(VornWorld::LiveDeviceContexts(), dcs_) << "device contexts leaked";
        EXPECT_EQ(VornWorld::LiveGdiObjects(), objects_) << "GDI objects leaked";
        VornWorld::ResetDisplay();
    }

private:
    long dcs_ = 0;
    long objects_ = 0;
};
