// SPDX-License-Identifier: MIT
// The world is fixed once: this suite chose the virtual one before main, and a later choice
// of the other world changes nothing.
#include <gtest/gtest.h>

#include "vorn/control/world.h"

TEST(WorldChoice, IsFixedOnceAndKept) {
    EXPECT_EQ(VornWorld::WorldKind::Virtual, VornWorld::CurrentWorld());
    EXPECT_TRUE(VornWorld::ChooseWorld(VornWorld::WorldKind::Virtual));
    EXPECT_FALSE(VornWorld::ChooseWorld(VornWorld::WorldKind::Host));
    EXPECT_EQ(VornWorld::WorldKind::Virtual, VornWorld::CurrentWorld());
}
