// SPDX-License-Identifier: MIT
#include "tqzdevice.h"

#include <new>

namespace TQZCapture {

TQZDevice::TQZDevice()
    : Index(0), ClassID(), DataType(DataTypeUnknown), DeviceType(DeviceTypeUnknown) {}

TQZDevice::TQZDevice(const TQZDevice& other) : TQZDevice() { CopyDescription(&other); }

TQZDevice& TQZDevice::operator=(const TQZDevice& other) {
    CopyDescription(&other);
    return *this;
}

TQZDevice::~TQZDevice() { TQZDevice::Close(); }

bool TQZDevice::Open() { return false; }

bool TQZDevice::Close() { return false; }

bool TQZDevice::Pause() { return false; }

TQZPacket* TQZDevice::Query() { return nullptr; }

TQZPacket* TQZDevice::Get() { return nullptr; }

void TQZDevice::OnError(unsigned int) {}

void TQZDevice::OnOpenBefore(void*) {}

void TQZDevice::OnOpenAFter() {}

void TQZDevice::OnCloseBefore() {}

void TQZDevice::OnCloseAFter() {}

bool TQZDevice::CopyDescription(const TQZDevice* source) {
    if (source == nullptr) return false;
    if (source == this) return true;
    DataType = source->DataType;
    DeviceType = source->DeviceType;
    Index = source->Index;
    ClassID = source->ClassID;
    try {
        Name = source->Name;
        Caption = source->Caption;
        ClassIDText = source->ClassIDText;
        UserText1 = source->UserText1;
        UserText2 = source->UserText2;
        UserText3 = source->UserText3;
    } catch (const std::bad_alloc&) {
        return false;
    }
    return true;
}

}  // namespace TQZCapture
