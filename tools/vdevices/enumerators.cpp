#include "enumerators.h"

#include <new>
#include <utility>

#include "comsupport.h"

namespace VornDevices {
namespace {

// An enumerator over the pins of a filter; holds the filter.
class PinEnumerator final : public ComObject<IEnumPins> {
public:
    PinEnumerator(IUnknown* filter, std::vector<IPin*> pins, ULONG position)
        : ComObject(IID_IEnumPins), filter_(filter), pins_(std::move(pins)), position_(position) {
        filter_->AddRef();
    }

    STDMETHODIMP Next(ULONG count, IPin** pins, ULONG* fetched) override {
        if (pins == nullptr || (count > 1 && fetched == nullptr)) return E_POINTER;
        ULONG given = 0;
        while (given < count && position_ < pins_.size()) {
            pins[given] = pins_[position_++];
            pins[given++]->AddRef();
        }
        if (fetched != nullptr) *fetched = given;
        return given == count ? S_OK : S_FALSE;
    }
    STDMETHODIMP Skip(ULONG count) override {
        const size_t left = pins_.size() - position_;
        position_ = count >= left ? pins_.size() : position_ + count;
        return count <= left ? S_OK : S_FALSE;
    }
    STDMETHODIMP Reset() override {
        position_ = 0;
        return S_OK;
    }
    STDMETHODIMP Clone(IEnumPins** copy) override {
        if (copy == nullptr) return E_POINTER;
        *copy = new (std::nothrow) PinEnumerator(filter_, pins_, static_cast<ULONG>(position_));
        return *copy == nullptr ? E_OUTOFMEMORY : S_OK;
    }

private:
    ~PinEnumerator() override { filter_->Release(); }

    IUnknown* filter_;
    std::vector<IPin*> pins_;
    size_t position_;
};

// An enumerator over a snapshot of media types.
class TypeEnumerator final : public ComObject<IEnumMediaTypes> {
public:
    TypeEnumerator(std::vector<MediaType> types, ULONG position)
        : ComObject(IID_IEnumMediaTypes), types_(std::move(types)), position_(position) {}

    STDMETHODIMP Next(ULONG count, AM_MEDIA_TYPE** types, ULONG* fetched) override {
        if (types == nullptr || (count > 1 && fetched == nullptr)) return E_POINTER;
        ULONG given = 0;
        while (given < count && position_ < types_.size()) {
            types[given] = types_[position_].NewRecord();
            if (types[given] == nullptr) break;
            ++given;
            ++position_;
        }
        if (fetched != nullptr) *fetched = given;
        return given == count ? S_OK : S_FALSE;
    }
    STDMETHODIMP Skip(ULONG count) override {
        const size_t left = types_.size() - position_;
        position_ = count >= left ? types_.size() : position_ + count;
        return count <= left ? S_OK : S_FALSE;
    }
    STDMETHODIMP Reset() override {
        position_ = 0;
        return S_OK;
    }
    STDMETHODIMP Clone(IEnumMediaTypes** copy) override {
        if (copy == nullptr) return E_POINTER;
        *copy = new (std::nothrow) TypeEnumerator(types_, static_cast<ULONG>(position_));
        return *copy == nullptr ? E_OUTOFMEMORY : S_OK;
    }

private:
    std::vector<MediaType> types_;
    size_t position_;
};

}  // namespace

HRESULT NewPinEnumerator(IUnknown* filter, std::vector<IPin*> pins, IEnumPins** out) {
    if (out == nullptr) return E_POINTER;
    *out = new (std::nothrow) PinEnumerator(filter, std::move(pins), 0);
    return *out == nullptr ? E_OUTOFMEMORY : S_OK;
}

HRESULT NewTypeEnumerator(std::vector<MediaType> types, IEnumMediaTypes** out) {
    if (out == nullptr) return E_POINTER;
    *out = new (std::nothrow) TypeEnumerator(std::move(types), 0);
    return *out == nullptr ? E_OUTOFMEMORY : S_OK;
}

}  // namespace VornDevices
