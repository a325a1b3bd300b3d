// SPDX-License-Identifier: MIT
#include "icaptureaudiocallback.h"

namespace TQZCapture {

ICaptureAudioCallBack::ICaptureAudioCallBack() = default;

ICaptureAudioCallBack::ICaptureAudioCallBack(const ICaptureAudioCallBack&) = default;

ICaptureAudioCallBack& ICaptureAudioCallBack::operator=(const ICaptureAudioCallBack&) = default;

ICaptureAudioCallBack::~ICaptureAudioCallBack() = default;

}  // namespace TQZCapture
