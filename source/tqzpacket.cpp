// SPDX-License-Identifier: MIT
#include "tqzpacket.h"

#include <algorithm>
#include <iterator>
#include <utility>

namespace TQZCapture {

TQZPacket::TQZPacket() : TimeStamp(0.0), Extra{} {}

TQZPacket::TQZPacket(const TQZPacket& other) : TQZPacket() { CopyFrom(&other); }

TQZPacket::TQZPacket(TQZPacket&& other) noexcept : TQZPacket() { *this = std::move(other); }

TQZPacket& TQZPacket::operator=(const TQZPacket& other) {
    if (&other != this) CopyFrom(&other);
    return *this;
}

TQZPacket& TQZPacket::operator=(TQZPacket&& other) noexcept {
    if (&other == this) return *this;
    TQZMemory::operator=(std::move(other));
    DataType = other.DataType;
    DeviceType = other.DeviceType;
    Index = other.Index;
    Name.swap(other.Name);
    Caption.swap(other.Caption);
    ClassID = other.ClassID;
    ClassIDText.swap(other.ClassIDText);
    UserText1.swap(other.UserText1);
    UserText2.swap(other.UserText2);
    UserText3.swap(other.UserText3);
    CopyTimes(other);
    return *this;
}

TQZPacket::~TQZPacket() { Free(); }

bool TQZPacket::CopyFrom(const TQZPacket* source) {
    if (source == this) return true;
    Free();
    if (source == nullptr) return false;
    bool copied = true;
    if (source->Size() > 0) copied = Append(source->Bytes(), source->Size(), 0) > 0;
    copied = CopyDescription(source) && copied;
    CopyTimes(*source);
    return copied;
}

bool TQZPacket::CopyFrom(const TQZDevice* device) { return CopyDescription(device); }

void TQZPacket::CopyTimes(const TQZPacket& source) {
    TimeStamp = source.TimeStamp;
    std::copy(std::begin(source.Extra), std::end(source.Extra), std::begin(Extra));
}

}  // namespace TQZCapture
