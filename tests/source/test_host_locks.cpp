// SPDX-License-Identifier: MIT
// The lock classes offered to hosts: TQZLocker with TQZAutoLocker, TQZMutex with
// TQZMutexLocker, and TQZMReadSWriteLocker.
#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <functional>
#include <thread>

#include "tqzautolocker.h"
#include "tqzlocker.h"
#include "tqzmreadswritelocker.h"
#include "tqzmutex.h"
#include "tqzmutexlocker.h"

using namespace TQZCapture;

namespace {

// TryLocked from a thread of its own, releasing again what it got.
short TryFromOtherThread(TQZMutex& mutex) {
    short result = -1;
    std::thread other([&] {
        result = mutex.TryLocked();
        if (result == 1) mutex.Unlocked();
    });
    other.join();
    return result;
}

// With two levels of a lock held by this thread, another thread's `take` (undone by `give`)
// waits, still after `releaseFirst` let go of one level, until `releaseLast` lets go of the other.
void ExpectWaitsForBothLevels(const std::function<void()>& take, const std::function<void()>& give,
                              const std::function<void()>& releaseFirst,
                              const std::function<void()>& releaseLast) {
    std::atomic<bool> taken{false};
    std::thread other([&] {
        take();
        taken = true;
        give();
    });
    std::this_thread::sleep_for(std::chrono::milliseconds(60));
    EXPECT_FALSE(taken);
    releaseFirst();
    std::this_thread::sleep_for(std::chrono::milliseconds(30));
    EXPECT_FALSE(taken) << "one level is still held";
    releaseLast();
    other.join();
    EXPECT_TRUE(taken);
}

TEST(TQZMutex, OtherThreadsTryFailsAtEveryDepthUntilTheLastUnlock) {
    TQZMutex mutex;
    for (int depth = 1; depth <= 3; ++depth) {
        mutex.Locked();
        EXPECT_EQ(TryFromOtherThread(mutex), 0) << "after lock " << depth;
    }
    for (int left = 2; left >= 0; --left) {
        mutex.Unlocked();
        EXPECT_EQ(TryFromOtherThread(mutex), left == 0 ? 1 : 0) << "levels left " << left;
    }
    // The owner's own try nests as well.
    EXPECT_EQ(mutex.TryLocked(), 1);
    EXPECT_EQ(mutex.TryLocked(), 1);
    mutex.Unlocked();
    EXPECT_EQ(TryFromOtherThread(mutex), 0);
    mutex.Unlocked();
    EXPECT_EQ(TryFromOtherThread(mutex), 1);
}

TEST(TQZMutex, SecondThreadBlocksUntilTheOwnerReleases) {
    TQZMutex mutex;
    mutex.Locked();
    mutex.Locked();
    const auto unlock = [&] { mutex.Unlocked(); };
    ExpectWaitsForBothLevels([&] { mutex.Locked(); }, unlock, unlock, unlock);
}

TEST(TQZMutex, UnlockByANonOwnerOrOfAFreeMutexIsIgnored) {
    TQZMutex mutex;
    mutex.Unlocked();  // free: nothing happens
    mutex.Locked();
    std::thread stranger([&] { mutex.Unlocked(); });
    stranger.join();
    EXPECT_EQ(TryFromOtherThread(mutex), 0);
    mutex.Unlocked();
    EXPECT_EQ(TryFromOtherThread(mutex), 1);
}

TEST(TQZMutexLocker, GuardsItsScopeAndItsDestructorUnlocksOnceMore) {
    TQZMutex mutex;
    {
        TQZMutexLocker guard(&mutex);
        EXPECT_EQ(TryFromOtherThread(mutex), 0);
        guard.Unlock();
        EXPECT_EQ(TryFromOtherThread(mutex), 1);
    }  // the extra unlock is ignored: the caller no longer owns the mutex
    EXPECT_EQ(TryFromOtherThread(mutex), 1);

    mutex.Locked();  // outer level
    {
        TQZMutexLocker guard(&mutex);
        guard.Unlock();
        EXPECT_EQ(TryFromOtherThread(mutex), 0);
    }  // releases the outer level too
    EXPECT_EQ(TryFromOtherThread(mutex), 1);

    TQZMutexLocker none;  // a null mutex: nothing to do, now or at destruction
    none.Locked();
    none.Unlock();
}

TEST(TQZAutoLocker, HoldsTheLockerForItsScopeAndTheHolderReenters) {
    TQZLocker locker;
    auto* guard = new TQZAutoLocker(&locker);
    locker.Locked();  // the holder enters again
    const auto unlock = [&] { locker.UnLocked(); };
    ExpectWaitsForBothLevels([&] { locker.Locked(); }, unlock, [&] { delete guard; }, unlock);
    TQZAutoLocker none(nullptr);
    none.Locked();
    none.UnLocked();
    TQZAutoLocker byDefault;
}

TEST(TQZMReadSWriteLocker, AccessorsKeepTheirStatedValuesAndNothingIsExcluded) {
    TQZMReadSWriteLocker lock;
    lock.DecRead();
    lock.AddRead();
    lock.EnableWrite();
    lock.ReadToWrite();
    IQZLocker& asLocker = lock;
    asLocker.Locked();
    EXPECT_EQ(lock.GetRead(), 0);
    EXPECT_FALSE(lock.GetWrite());
    std::thread secondWriter([&] {
        lock.Locked();
        lock.AddRead();
        lock.UnLocked();
    });
    secondWriter.join();  // would never end if the second writer had to wait
    asLocker.UnLocked();
    EXPECT_FALSE(lock.GetWrite());
}

TEST(TQZMReadSWriteLocker, RepeatedCreateAndDestroyAreHarmless) {
    TQZMReadSWriteLocker lock;
    lock.Create();  // already live
    lock.Destroy();
    lock.Destroy();
    EXPECT_EQ(lock.GetRead(), 0);  // still answers without its section
    EXPECT_FALSE(lock.GetWrite());
    lock.Create();
    lock.DecRead();
    EXPECT_EQ(lock.GetRead(), 0);
    lock.Destroy();
}  // and the destructor finds it destroyed

}  // namespace
