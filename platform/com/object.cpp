// SPDX-License-Identifier: MIT
#include "com/object.h"

#include <cwchar>

#include "world/media.h"

namespace VornCom {

int InterfaceIndex(REFIID iid) {
#define VORN_IID_OF(name) &IID_##name,
    static const GUID* const kNamed[] = {VORN_NAMED_INTERFACES(VORN_IID_OF)};
#undef VORN_IID_OF
    for (size_t i = 0; i < sizeof kNamed / sizeof kNamed[0]; ++i)
        if (IsEqualIID(iid, *kNamed[i])) return static_cast<int>(i);
    return -1;
}

HRESULT AnswerQuery(IUnknown* found, REFIID iid, void** out) {
    if (out == nullptr) return E_POINTER;
    *out = nullptr;
    const int named = InterfaceIndex(iid);
    if (named >= 0 && Fails({VornWorld::kQueryInterfaceFirst + static_cast<unsigned>(named)}))
        return E_NOINTERFACE;
    return VornMedia::Answer(found, out);
}

Unknown::Unknown() { ++VornWorld::Counters().objects; }

Unknown::~Unknown() { --VornWorld::Counters().objects; }

HRESULT Unknown::QueryInternal(REFIID iid, void** out) {
    return VornMedia::Answer(static_cast<IUnknown*>(Find(iid)), out);
}

HRESULT Unknown::DoQueryInterface(REFIID iid, void** out) {
    return AnswerQuery(static_cast<IUnknown*>(Find(iid)), iid, out);
}

ULONG Unknown::DoAddRef() { return ++references_; }

ULONG Unknown::DoRelease() {
    ULONG left = --references_;
    if (left == 0) delete this;
    return left;
}

LPWSTR TaskString(const std::wstring& text) {
    auto* copy = static_cast<LPWSTR>(CoTaskMemAlloc((text.size() + 1) * sizeof(WCHAR)));
    if (copy != nullptr) std::wmemcpy(copy, text.c_str(), text.size() + 1);
    return copy;
}

}  // namespace VornCom
