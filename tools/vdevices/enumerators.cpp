// SPDX-License-Identifier: MIT
#include "enumerators.h"

#include <new>
#include <utility>

#include "comsupport.h"
#include "shared/enumerator.h"

namespace VornDevices {
namespace {

// The DLL's object under the shared enumerator: it refuses no call.
template <class IEnum>
class EnumObject : public ComObject<IEnum> {
public:
    struct Setup {};
    explicit EnumObject(Setup) {}

protected:
    bool Refuses(VornMedia::EnumCall) const { return false; }
    Setup CloneSetup() const { return {}; }
};

using PinEnumerator =
    VornMedia::ListEnum<EnumObject<IEnumPins>, IEnumPins, IPin*, VornMedia::Ref<IPin>>;
using TypeEnumerator =
    VornMedia::ListEnum<EnumObject<IEnumMediaTypes>, IEnumMediaTypes, AM_MEDIA_TYPE*, MediaType>;

template <class Enumerator, class IEnum, class Holder>
HRESULT NewEnumerator(std::vector<Holder> items, IEnum** out) {
    if (out == nullptr) return E_POINTER;
    *out = new (std::nothrow) Enumerator({}, std::move(items));
    return *out == nullptr ? E_OUTOFMEMORY : S_OK;
}

}  // namespace

HRESULT NewPinEnumerator(const std::vector<IPin*>& pins, IEnumPins** out) {
    return NewEnumerator<PinEnumerator>(std::vector<VornMedia::Ref<IPin>>(pins.begin(), pins.end()),
                                        out);
}

HRESULT NewTypeEnumerator(std::vector<MediaType> types, IEnumMediaTypes** out) {
    return NewEnumerator<TypeEnumerator>(std::move(types), out);
}

}  // namespace VornDevices
