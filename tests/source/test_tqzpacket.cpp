// SPDX-License-Identifier: MIT
#include "tqzframe.h"
#include "tqzpacket.h"
#include "tqzvideodevice.h"

#include <gtest/gtest.h>

#include <memory>
#include <string>
#include <utility>

#include "devicedescription.h"
#include "recordbytes.h"

using namespace TQZCapture;

namespace {

template <class Record>
std::string TimesOf(const Record& record) {
    std::string text = std::to_string(record.TimeStamp);
    for (double extra : record.Extra) text += "," + std::to_string(extra);
    return text;
}

template <class Record>
void Stamp(Record& record, double time) {
    record.TimeStamp = time;
    for (int i = 0; i < 8; ++i) record.Extra[i] = time + i;
}

TQZPacket MakePacket(const std::string& bytes, const std::string& name, double time) {
    TQZPacket packet;
    packet.Append(reinterpret_cast<const unsigned char*>(bytes.data()), bytes.size(), 0);
    Describe(packet, name, 7);
    Stamp(packet, time);
    return packet;
}

}  // namespace

TEST(TQZPacket, CopiesAreIndependent) {
    const std::string hundred = std::string(50, '\0') + std::string(50, 'z');
    auto source = std::make_unique<TQZPacket>(MakePacket(hundred, "cam", 1234.0));
    const std::string description = DescriptionOf(*source);

    TQZPacket constructed(*source);
    TQZPacket assigned;
    assigned = *source;
    TQZPacket temporary(*source);
    TQZPacket moved(std::move(temporary));
    for (TQZPacket* copy : {&constructed, &assigned, &moved}) {
        EXPECT_NE(copy->Bytes(), source->Bytes());
        EXPECT_EQ(BytesOf(*copy), hundred);
        EXPECT_EQ(DescriptionOf(*copy), description);
        EXPECT_EQ(TimesOf(*copy), TimesOf(*source));
    }
    source.reset();
    EXPECT_EQ(BytesOf(assigned), hundred);
}

TEST(TQZPacket, PartialAndDegenerateCopies) {
    TQZPacket packet = MakePacket("0123456789", "kept", 55.0);
    TQZVideoDevice device;
    device.Name = "cam";
    EXPECT_TRUE(packet.CopyFrom(static_cast<TQZDevice*>(&device)));
    EXPECT_EQ(DescriptionOf(packet), DescriptionOf(device));
    EXPECT_EQ(BytesOf(packet), "0123456789");
    EXPECT_EQ(packet.TimeStamp, 55.0);
    EXPECT_FALSE(packet.CopyFrom(static_cast<TQZDevice*>(nullptr)));

    TQZPacket& alias = packet;
    packet = alias;
    packet = std::move(alias);
    EXPECT_TRUE(packet.CopyFrom(&alias) && packet.CopyFrom(static_cast<const TQZDevice*>(&alias)));
    EXPECT_EQ(BytesOf(packet), "0123456789");
    EXPECT_EQ(packet.Name, "cam");

    EXPECT_FALSE(packet.CopyFrom(static_cast<TQZPacket*>(nullptr)));
    EXPECT_EQ(packet.Size(), 0u);
    EXPECT_EQ(packet.Name, "cam");
    // The bytes alone from null: the description stays.
    packet.Append(reinterpret_cast<const unsigned char*>("ab"), 2, 0);
    EXPECT_FALSE(packet.CopyFrom(static_cast<const TQZMemory*>(nullptr)));
    EXPECT_EQ(BytesOf(packet) + "|" + packet.Name, "|cam");
}

TEST(TQZFrame, CloneCopiesEverythingCopyFromOnlyTheDescription) {
    TQZFrame empty(nullptr, 0xFFFFFFFFu, DataTypeI420, DeviceTypeVideo);
    EXPECT_TRUE(empty.empty());
    EXPECT_EQ(empty.DataType, 3);
    EXPECT_EQ(empty.DeviceType, 1);

    TQZFrame source("abcd", 4);
    Describe(source, "src", 2);
    Stamp(source, 9.0);
    TQZFrame clone(source);
    EXPECT_EQ(BytesOf(clone), "abcd");
    EXPECT_EQ(DescriptionOf(clone), DescriptionOf(source));
    EXPECT_EQ(TimesOf(clone), TimesOf(source));

    TQZFrame target("xy", 2);
    EXPECT_TRUE(target.CopyFrom(&source));
    EXPECT_EQ(DescriptionOf(target), DescriptionOf(source));
    EXPECT_EQ(BytesOf(target), "xy");
    EXPECT_EQ(target.TimeStamp, 0.0);

    TQZFrame& alias = target;
    target = alias;
    EXPECT_TRUE(target.CloneFrom(&alias) && target.CopyFrom(&alias));
    EXPECT_EQ(BytesOf(target) + "|" + target.Name, "xy|src");
    EXPECT_FALSE(target.CloneFrom(nullptr));
    EXPECT_TRUE(target.empty());
    EXPECT_FALSE(target.CopyFrom(nullptr));
}
