// SPDX-License-Identifier: MIT
// Graph steps that every media-graph device uses, push and pull alike.
//
// The graph's interfaces are public fields of each device class, declared under the same names
// by the twin classes of a path (the interface fixes them, and gives the twins no common base
// that could hold them). The steps of a path are therefore templates, or take the fields
// gathered by reference, binding them by name: one piece of code serves both twins.
#pragma once

#include "tqzcompointer.h"
#include "vornplatform.h"

namespace TQZCapture {
namespace internal {

// The message box that reports a failed graph step: its text and caption. Each device names
// its own boxes; Close and Pause share theirs.
struct GraphBox {
    const char* text;
    const char* caption;
};
extern const GraphBox kCloseBox;
extern const GraphBox kPauseBox;

// Shows `box` modally, without an owner window, with an OK button.
void ShowBox(const GraphBox& box);

// Shows `box` and answers false: the end of a failed step.
bool Refuse(const GraphBox& box);

// A step succeeded when `status` is a success and `held` is true. Otherwise shows `box` (when
// not null) and answers false.
bool StepDone(HRESULT status, bool held, const GraphBox* box);

// Creates an in-process object into `into` (cleared first).
template <class I>
bool CreateStep(REFCLSID clsid, DWORD context, REFIID iid, TQZComPointer<I>& into,
                const GraphBox* box) {
    const HRESULT status =
        CoCreateInstance(clsid, nullptr, context, iid, reinterpret_cast<void**>(&into));
    return StepDone(status, static_cast<bool>(into), box);
}

// Asks `from` for another of its interfaces into `into` (cleared first).
template <class I, class From>
bool QueryStep(From* from, REFIID iid, TQZComPointer<I>& into, const GraphBox* box) {
    HRESULT status = E_POINTER;
    if (from != nullptr)
        status = from->QueryInterface(iid, reinterpret_cast<void**>(&into));
    else
        into.Release();
    return StepDone(status, static_cast<bool>(into), box);
}

// Binds the capture filter of the device at `index` of a device category into `*filter`.
// Every moniker counts toward the position, also one whose name cannot be read; the device at
// `index` is bound only when its friendly name can be read, and a failing bind leaves
// `*filter` null. The walk ends at `index` or when the category runs out of monikers. False
// for a negative index, no system device enumerator, or an empty or unreadable category; true
// otherwise, also when no device was at `index`.
bool BindCategoryFilter(REFCLSID category, int index, IBaseFilter** filter);

// Releases what a media type record holds (format block, object reference); the record stays.
void FreeMediaType(AM_MEDIA_TYPE& type);
// FreeMediaType, then frees the record itself (one the platform allocated); null is ignored.
void DeleteMediaType(AM_MEDIA_TYPE* type);

}  // namespace internal
}  // namespace TQZCapture
