// SPDX-License-Identifier: MIT
#include "tqzframeset.h"
#include "tqzpacketset.h"

#include <gtest/gtest.h>

#include <atomic>
#include <string>
#include <thread>
#include <vector>

#include "devicedescription.h"

using namespace TQZCapture;

namespace {

// A packet whose Index, Name and single byte all tell its number.
TQZPacket Numbered(unsigned int number) {
    TQZPacket packet;
    const auto byte = static_cast<unsigned char>(number);
    packet.Append(&byte, 1, 0);
    packet.Index = number;
    packet.Name = "P" + std::to_string(number);
    packet.TimeStamp = number;
    return packet;
}

// Number of a packet built by Numbered, checked for consistency; -1 for an empty packet.
long NumberOf(const TQZPacket* packet) {
    if (packet->Size() == 0) return -1;
    EXPECT_EQ(packet->Size(), 1u);
    EXPECT_EQ(packet->Bytes()[0], static_cast<unsigned char>(packet->Index));
    EXPECT_EQ(packet->Name, "P" + std::to_string(packet->Index));
    return static_cast<long>(packet->Index);
}

std::vector<unsigned long> PushNumbered(TQZPacketSet& set, unsigned int count) {
    std::vector<unsigned long> results;
    for (unsigned int i = 1; i <= count; ++i) {
        const TQZPacket packet = Numbered(i);
        results.push_back(set.Push(&packet));
    }
    return results;
}

}  // namespace

TEST(TQZPacketSet, GetTakesNewestQueryTakesOldest) {
    TQZPacketSet set;
    EXPECT_EQ(set.GetTheMaxCount(), 100u);
    EXPECT_EQ(NumberOf(set.Get()), -1);  // never null: an empty packet at first
    EXPECT_EQ(set.Push(nullptr), 0u);
    {
        TQZPacket first = Numbered(1);
        set.Push(&first);
        first.Name = "changed";  // the set holds its own copy
    }
    PushNumbered(set, 3);  // P1 P1 P2 P3
    EXPECT_EQ(NumberOf(set.Get()), 3);
    EXPECT_EQ(NumberOf(set.Query()), 1);
    EXPECT_EQ(set.Count(), 2u);
    EXPECT_EQ(NumberOf(set.Query()), 1);
    EXPECT_EQ(NumberOf(set.Query()), 2);
    EXPECT_EQ(set.Count(), 0u);
    // Empty: each slot keeps what its operation last returned.
    EXPECT_EQ(NumberOf(set.Get()), 3);
    EXPECT_EQ(NumberOf(set.Query()), 2);
    PushNumbered(set, 2);  // left inside: deleting the set must release them
}

TEST(TQZPacketSet, OneProducerOneConsumerKeepOrderAndBound) {
    constexpr unsigned int kPackets = 3000;
    constexpr unsigned long kBound = 8;
    TQZPacketSet set(kBound);
    std::atomic<bool> overBound{false};

    std::thread producer([&] {
        for (unsigned int i = 0; i < kPackets; ++i) {
            // Only this thread adds, so a free place seen here is still free at Push.
            while (set.Count() >= kBound) std::this_thread::yield();
            const TQZPacket packet = Numbered(i);
            if (set.Push(&packet) > kBound) overBound = true;
        }
    });
    std::vector<long> received;
    while (received.size() < kPackets) {
        if (set.Count() > kBound) overBound = true;
        if (set.Count() == 0) {
            std::this_thread::yield();
            continue;
        }
        received.push_back(NumberOf(set.Query()));
    }
    producer.join();

    EXPECT_FALSE(overBound.load());
    for (unsigned int i = 0; i < kPackets; ++i) ASSERT_EQ(received[i], long(i)) << i;
    EXPECT_EQ(set.Count(), 0u);
}

TEST(TQZFrameSet, CarriesDescriptionsOnly) {
    TQZFrameSet set;
    EXPECT_EQ(set.GetTheMaxCount(), 2048u);
    TQZFrame first("abcd", 4, DataTypeI420, DeviceTypeVideo);
    first.Name = "first";
    first.TimeStamp = 5.0;
    TQZFrame second("xy", 2, DataTypePCM, DeviceTypeAudio);
    second.Name = "second";
    EXPECT_EQ(set.Push(&first), 1u);
    EXPECT_EQ(set.Push(&second), 2u);
    EXPECT_EQ(set.Push(nullptr), 2u);

    const TQZFrame* oldest = set.Query();  // description only: no bytes, no time
    EXPECT_EQ(DescriptionOf(*oldest), DescriptionOf(first));
    EXPECT_TRUE(oldest->empty());
    EXPECT_EQ(oldest->TimeStamp, 0.0);
    EXPECT_TRUE(set.Get()->empty());
    EXPECT_EQ(set.Get()->Name, "");
}
