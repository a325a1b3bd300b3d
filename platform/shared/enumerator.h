// SPDX-License-Identifier: MIT
// The enumerators of both filter stacks (pins, media types, and the platform's filters and
// monikers) over a snapshot taken when they are made, and the interface reference they hold
// their items with. Header only; the stacks' COM objects differ (see ListEnum).
#pragma once

#include <cstddef>
#include <new>
#include <utility>
#include <vector>

#include "shared/mediatype.h"

namespace VornMedia {

// Holds one reference to an interface while not null.
template <class I>
class Ref {
public:
    Ref() = default;
    explicit Ref(I* p, bool addRef = true) : p_(p) {
        if (p_ != nullptr && addRef) p_->AddRef();
    }
    Ref(const Ref& other) : Ref(other.p_) {}
    Ref(Ref&& other) noexcept : p_(other.p_) { other.p_ = nullptr; }
    Ref& operator=(Ref other) noexcept {
        I* old = p_;
        p_ = other.p_;
        other.p_ = old;
        return *this;
    }
    ~Ref() {
        if (p_ != nullptr) p_->Release();
    }
    I* get() const { return p_; }
    I* operator->() const { return p_; }
    explicit operator bool() const { return p_ != nullptr; }
    // Hands the reference out (for out-parameters).
    I* detach() {
        I* p = p_;
        p_ = nullptr;
        return p;
    }

private:
    I* p_ = nullptr;
};

// What an enumerator hands out for an item: the interface with a reference added, or a media
// type as a new task-memory record (null when it cannot be made).
template <class I>
I* HandOut(const Ref<I>& item) {
    item->AddRef();
    return item.get();
}
inline AM_MEDIA_TYPE* HandOut(const MediaType& item) { return item.NewRecord(); }

enum class EnumCall { Next, Skip, Reset };

// An enumerator over a fixed list of `Holder`s, handing out `Item`s. `Base` is the COM object
// of the stack that makes it: it derives from the enumerator interface `IEnum` and answers
// IUnknown, is made from a `Base::Setup`, gives that back for clones (`CloneSetup()`), and may
// refuse a call (`Refuses`, E_FAIL) where its stack injects faults.
template <class Base, class IEnum, class Item, class Holder>
class ListEnum final : public Base {
public:
    ListEnum(typename Base::Setup setup, std::vector<Holder> items, size_t position = 0)
        : Base(setup), items_(std::move(items)), position_(position) {}

    HRESULT STDMETHODCALLTYPE Next(ULONG count, Item* out, ULONG* fetched) override {
        if (fetched != nullptr) *fetched = 0;
        if (out == nullptr) return E_POINTER;
        if (count > 0) out[0] = nullptr;
        if (this->Refuses(EnumCall::Next)) return E_FAIL;
        if (count != 1 && fetched == nullptr) return E_INVALIDARG;
        ULONG done = 0;
        while (done < count && position_ < items_.size()) {
            Item item = HandOut(items_[position_]);
            if (item == nullptr) break;  // out of memory: what was handed out stands
            out[done++] = item;
            ++position_;
        }
        if (fetched != nullptr) *fetched = done;
        return done == count ? S_OK : S_FALSE;
    }
    HRESULT STDMETHODCALLTYPE Skip(ULONG count) override {
        if (this->Refuses(EnumCall::Skip)) return E_FAIL;
        const size_t left = items_.size() - position_;
        position_ += count < left ? count : left;
        return count <= left ? S_OK : S_FALSE;
    }
    HRESULT STDMETHODCALLTYPE Reset() override {
        if (this->Refuses(EnumCall::Reset)) return E_FAIL;
        position_ = 0;
        return S_OK;
    }
    HRESULT STDMETHODCALLTYPE Clone(IEnum** copy) override {
        if (copy == nullptr) return E_POINTER;
        *copy = new (std::nothrow) ListEnum(this->CloneSetup(), items_, position_);
        return *copy == nullptr ? E_OUTOFMEMORY : S_OK;
    }

private:
    std::vector<Holder> items_;
    size_t position_;
};

}  // namespace VornMedia
