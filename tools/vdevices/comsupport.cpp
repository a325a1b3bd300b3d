// SPDX-License-Identifier: MIT
#include "comsupport.h"

#include <cstring>
#include <cwchar>

namespace VornDevices {

FilterBase::FilterBase() { InitializeCriticalSection(&lock_); }

FilterBase::~FilterBase() {
    if (clock_ != nullptr) clock_->Release();
    DeleteCriticalSection(&lock_);
}

STDMETHODIMP_(ULONG) FilterBase::AddRef() { return InterlockedIncrement(&references_); }

STDMETHODIMP_(ULONG) FilterBase::Release() {
    const LONG left = InterlockedDecrement(&references_);
    if (left == 0) delete this;
    return left;
}

STDMETHODIMP FilterBase::GetState(DWORD, FILTER_STATE* state) {
    if (state == nullptr) return E_POINTER;
    Guard guard(lock_);
    *state = state_;
    return state_ == State_Paused ? PausedState() : S_OK;
}

STDMETHODIMP FilterBase::SetSyncSource(IReferenceClock* clock) {
    Guard guard(lock_);
    if (clock != nullptr) clock->AddRef();
    if (clock_ != nullptr) clock_->Release();
    clock_ = clock;
    return S_OK;
}

STDMETHODIMP FilterBase::GetSyncSource(IReferenceClock** clock) {
    if (clock == nullptr) return E_POINTER;
    Guard guard(lock_);
    *clock = clock_;
    if (clock_ != nullptr) clock_->AddRef();
    return S_OK;
}

STDMETHODIMP FilterBase::QueryFilterInfo(FILTER_INFO* info) {
    if (info == nullptr) return E_POINTER;
    Guard guard(lock_);
    std::memcpy(info->achName, name_, sizeof(name_));
    info->pGraph = graph_;
    if (graph_ != nullptr) graph_->AddRef();
    return S_OK;
}

STDMETHODIMP FilterBase::JoinFilterGraph(IFilterGraph* graph, LPCWSTR name) {
    Guard guard(lock_);
    graph_ = graph;
    std::memset(name_, 0, sizeof(name_));
    if (name != nullptr) std::wcsncpy(name_, name, MAX_FILTER_NAME - 1);
    return S_OK;
}

}  // namespace VornDevices
