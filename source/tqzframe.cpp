// SPDX-License-Identifier: MIT
#include "tqzframe.h"

#include <algorithm>
#include <iterator>

namespace TQZCapture {

TQZFrame::TQZFrame(const char* data, unsigned int length, TQZDataType dataType,
                   TQZDeviceType deviceType)
    : TQZBuffer(data, length), TimeStamp(0.0), Extra{} {
    DataType = dataType;
    DeviceType = deviceType;
}

TQZFrame::TQZFrame(const TQZFrame& other) : TQZFrame() { CloneFrom(&other); }

TQZFrame& TQZFrame::operator=(const TQZFrame& other) {
    if (&other != this) CloneFrom(&other);
    return *this;
}

TQZFrame::~TQZFrame() { clear(); }

bool TQZFrame::CloneFrom(const TQZFrame* source) {
    if (source == this) return true;
    clear();
    if (source == nullptr) return false;
    append(source->bytes(), static_cast<unsigned int>(source->size()));
    const bool copied = size() == source->size();
    TimeStamp = source->TimeStamp;
    std::copy(std::begin(source->Extra), std::end(source->Extra), std::begin(Extra));
    return CopyDescription(source) && copied;
}

bool TQZFrame::CopyFrom(const TQZFrame* source) { return CopyDescription(source); }

}  // namespace TQZCapture
