// SPDX-License-Identifier: MIT
// Pieces every COM object of the DLL is made of: the count of the module's users, a lock
// guard, a reference-counted object of one interface, and the filter parts that do not depend
// on what a filter does (its references, lock, state, clock and graph).
#pragma once

#include <windows.h>

#include <dshow.h>

#include "devices.h"
#include "shared/comquery.h"

// The interfaces only the DLL's objects implement (the filters' are in shared/).
VORN_ANSWERS(IClassFactory, iid == IID_IClassFactory)
VORN_ANSWERS(IKsPropertySet, iid == IID_IKsPropertySet)
VORN_ANSWERS(IMemInputPin, iid == IID_IMemInputPin)
VORN_ANSWERS(IPersistPropertyBag, iid == IID_IPersistPropertyBag)
VORN_ANSWERS(IAMFilterMiscFlags, iid == IID_IAMFilterMiscFlags)

namespace VornDevices {

using VornMedia::Answer;
using VornMedia::FindAmong;

// Counts the module's users for as long as it lives.
class ModuleUser {
public:
    ModuleUser() { ++ModuleUsers(); }
    ModuleUser(const ModuleUser&) = delete;
    ModuleUser& operator=(const ModuleUser&) = delete;
    ~ModuleUser() { --ModuleUsers(); }
};

// Holds a critical section for the lifetime of the guard.
class Guard {
public:
    explicit Guard(CRITICAL_SECTION& section) : section_(section) {
        EnterCriticalSection(&section_);
    }
    Guard(const Guard&) = delete;
    Guard& operator=(const Guard&) = delete;
    ~Guard() { LeaveCriticalSection(&section_); }

private:
    CRITICAL_SECTION& section_;
};

// An object with one interface besides IUnknown, deleted with its last reference.
template <class Interface>
class ComObject : public Interface {
public:
    ComObject() = default;
    ComObject(const ComObject&) = delete;
    ComObject& operator=(const ComObject&) = delete;

    STDMETHODIMP QueryInterface(REFIID iid, void** out) override {
        return VornMedia::Answer(VornMedia::FindAmong<Interface>(this, iid), out);
    }
    STDMETHODIMP_(ULONG) AddRef() override { return InterlockedIncrement(&references_); }
    STDMETHODIMP_(ULONG) Release() override {
        const LONG left = InterlockedDecrement(&references_);
        if (left == 0) delete this;
        return left;
    }

protected:
    virtual ~ComObject() = default;

private:
    ModuleUser user_;
    LONG references_ = 1;
};

// The parts of a filter that do not depend on its pins.
class FilterBase : public IBaseFilter {
public:
    FilterBase(const FilterBase&) = delete;
    FilterBase& operator=(const FilterBase&) = delete;

    STDMETHODIMP_(ULONG) AddRef() override;
    STDMETHODIMP_(ULONG) Release() override;
    STDMETHODIMP GetState(DWORD timeout, FILTER_STATE* state) override;
    STDMETHODIMP SetSyncSource(IReferenceClock* clock) override;
    STDMETHODIMP GetSyncSource(IReferenceClock** clock) override;
    STDMETHODIMP QueryFilterInfo(FILTER_INFO* info) override;
    STDMETHODIMP JoinFilterGraph(IFilterGraph* graph, LPCWSTR name) override;

    CRITICAL_SECTION& Lock() { return lock_; }
    FILTER_STATE State() const { return state_; }
    IFilterGraph* Graph() const { return graph_; }

protected:
    FilterBase();
    virtual ~FilterBase();
    // What GetState answers in the paused state.
    virtual HRESULT PausedState() const { return S_OK; }

    CRITICAL_SECTION lock_;
    FILTER_STATE state_ = State_Stopped;
    IReferenceClock* clock_ = nullptr;

private:
    ModuleUser user_;
    LONG references_ = 1;
    IFilterGraph* graph_ = nullptr;  // not held: the graph holds the filter
    WCHAR name_[MAX_FILTER_NAME] = {};
};

}  // namespace VornDevices
