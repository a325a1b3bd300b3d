// SPDX-License-Identifier: MIT
#include "tqzlocker.h"

#include <gtest/gtest.h>

#include <atomic>
#include <thread>

using TQZCapture::TQZLocker;

TEST(TQZLocker, HolderReentersAndOthersWaitForLastUnlock) {
    TQZLocker lock;
    lock.Locked();
    lock.Locked();
    std::atomic<bool> acquired{false};
    std::thread other([&] {
        lock.Locked();
        acquired = true;
        lock.UnLocked();
    });
    lock.UnLocked();
    std::this_thread::sleep_for(std::chrono::milliseconds(50));
    EXPECT_FALSE(acquired.load());
    lock.UnLocked();
    other.join();
    EXPECT_TRUE(acquired.load());
}
