// SPDX-License-Identifier: MIT
#pragma once

namespace TQZCapture {

// Holds one reference to a platform interface while it is not null: releases it when cleared,
// reassigned or destroyed, and adds one when copied. Used for every platform interface that a
// media-graph device keeps.
template <class I>
class TQZComPointer {
public:
    TQZComPointer() = default;
    TQZComPointer(I* p) : p_(p) {  // NOLINT: takes a new reference from its argument
        if (p_ != nullptr) p_->AddRef();
    }
    TQZComPointer(const TQZComPointer& other) : TQZComPointer(other.p_) {}
    TQZComPointer(TQZComPointer&& other) noexcept : p_(other.p_) { other.p_ = nullptr; }
    ~TQZComPointer() { Release(); }

    TQZComPointer& operator=(const TQZComPointer& other) { return (*this = other.p_); }
    TQZComPointer& operator=(TQZComPointer&& other) noexcept {
        if (this != &other) {
            Release();
            p_ = other.p_;
            other.p_ = nullptr;
        }
        return *this;
    }
    // Holds `p` with a reference of its own (the caller keeps its reference).
    TQZComPointer& operator=(I* p) {
        if (p != nullptr) p->AddRef();
        Release();
        p_ = p;
        return *this;
    }

    // Drops the held reference; the pointer becomes null.
    void Release() {
        I* old = p_;
        p_ = nullptr;
        if (old != nullptr) old->Release();
    }
    // For out-parameters that hand over a new reference: clears, then exposes the slot.
    I** operator&() {
        Release();
        return &p_;
    }
    // Takes over a reference the caller already owns, without adding one.
    void Attach(I* p) {
        Release();
        p_ = p;
    }
    I* Detach() {
        I* p = p_;
        p_ = nullptr;
        return p;
    }

    I* Get() const { return p_; }
    I* operator->() const { return p_; }
    operator I*() const { return p_; }
    explicit operator bool() const { return p_ != nullptr; }

private:
    I* p_ = nullptr;
};

}  // namespace TQZCapture
