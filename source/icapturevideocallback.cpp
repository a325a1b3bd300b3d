// SPDX-License-Identifier: MIT
#include "icapturevideocallback.h"

namespace TQZCapture {

ICaptureVideoCallBack::ICaptureVideoCallBack() = default;

ICaptureVideoCallBack::ICaptureVideoCallBack(const ICaptureVideoCallBack&) = default;

ICaptureVideoCallBack& ICaptureVideoCallBack::operator=(const ICaptureVideoCallBack&) = default;

ICaptureVideoCallBack::~ICaptureVideoCallBack() = default;

}  // namespace TQZCapture
