// SPDX-License-Identifier: MIT
// A fresh virtual media world for each media-device test: its failure boxes read back, and no
// COM object, streaming thread, task memory or string left behind at the end.
#pragma once

#include <gtest/gtest.h>

#include <algorithm>
#include <string>
#include <vector>

#include "vorn/control/display.h"
#include "vorn/control/faults.h"
#include "vorn/control/media.h"

class MediaDeviceTest : public ::testing::Test {
protected:
    void SetUp() override {
        VornWorld::ClearFaults();
        VornWorld::ResetMedia();
        VornWorld::ClearMessageBoxes();
        VornWorld::EchoMessageBoxes(false);
        live_ = Live();
    }
    void TearDown() override {
        VornWorld::ClearFaults();
        ExpectNothingLeft();
    }
    static std::vector<long> Live() {
        return {VornWorld::LiveComObjects(), VornWorld::LiveStreamingThreads(),
                VornWorld::LiveTaskMemBlocks(), VornWorld::LiveBstrs()};
    }
    void ExpectNothingLeft() const {
        EXPECT_EQ(live_, Live()) << "objects, threads, memory, strings";
    }
    // Every message box as "text|caption"; each has no owner and an OK button only.
    static std::vector<std::string> BoxTexts() {
        std::vector<std::string> texts;
        for (const auto& box : VornWorld::MessageBoxes()) {
            EXPECT_EQ(nullptr, box.owner);
            EXPECT_EQ(static_cast<UINT>(MB_OK), box.type);
            texts.push_back(box.text + "|" + box.caption);
        }
        return texts;
    }
    static long AliveGraphs() {
        const auto graphs = VornWorld::Graphs();
        return std::count_if(graphs.begin(), graphs.end(), [](const auto& g) { return g.alive; });
    }

private:
    std::vector<long> live_;
};
