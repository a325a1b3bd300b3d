// SPDX-License-Identifier: MIT
// Interface lookup of both filter stacks' COM objects: the identity, an interface and its bases
// found through the object's list, and QueryInterface's answer with its one reference.
#include <gtest/gtest.h>

#include "shared/comquery.h"

namespace {

// Two interfaces of this test only, the second with a base of its own.
struct IFirst : public IUnknown {};
struct ISecond : public IUnknown {};
constexpr GUID kFirst = {0x6b0c8f70, 0x3d4e, 0x4a8b, {0x9c, 0x1d, 0x2e, 0x7f, 0x5a, 0x9b, 0, 1}};
constexpr GUID kSecond = {0x6b0c8f70, 0x3d4e, 0x4a8b, {0x9c, 0x1d, 0x2e, 0x7f, 0x5a, 0x9b, 0, 2}};
constexpr GUID kSecondBase = {
    0x6b0c8f70, 0x3d4e, 0x4a8b, {0x9c, 0x1d, 0x2e, 0x7f, 0x5a, 0x9b, 0, 3}};

}  // namespace

VORN_ANSWERS(IFirst, iid == kFirst)
VORN_ANSWERS(ISecond, iid == kSecond || iid == kSecondBase)

namespace {

class Both final : public IFirst, public ISecond {
public:
    HRESULT STDMETHODCALLTYPE QueryInterface(REFIID iid, void** out) override {
        return VornMedia::Answer(VornMedia::FindAmong<IFirst, ISecond>(this, iid), out);
    }
    ULONG STDMETHODCALLTYPE AddRef() override { return ++references; }
    ULONG STDMETHODCALLTYPE Release() override { return --references; }
    ULONG references = 1;
};

TEST(SharedQuery, EachIdentifierFindsItsInterfaceWithOneReference) {
    Both object;
    struct Case {
        const GUID* iid;
        void* expected;
    } cases[] = {
        {&IID_IUnknown, static_cast<IFirst*>(&object)},  // the identity: the first interface
        {&kFirst, static_cast<IFirst*>(&object)},       {&kSecond, static_cast<ISecond*>(&object)},
        {&kSecondBase, static_cast<ISecond*>(&object)}, {&IID_IPin, nullptr},
    };
    for (const Case& c : cases) {
        void* out = &object;
        const ULONG before = object.references;
        EXPECT_EQ(object.QueryInterface(*c.iid, &out), c.expected ? S_OK : E_NOINTERFACE);
        EXPECT_EQ(out, c.expected);
        EXPECT_EQ(object.references, before + (c.expected ? 1u : 0u));
    }
    EXPECT_EQ(object.QueryInterface(kFirst, nullptr), E_POINTER);
}

// What the filters of both stacks answer to besides their own identifier.
TEST(SharedQuery, FiltersAnswerForTheirBases) {
    EXPECT_TRUE(VornMedia::Answers<IBaseFilter>(IID_IBaseFilter));
    EXPECT_TRUE(VornMedia::Answers<IBaseFilter>(IID_IMediaFilter));
    EXPECT_TRUE(VornMedia::Answers<IBaseFilter>(IID_IPersist));
    EXPECT_FALSE(VornMedia::Answers<IBaseFilter>(IID_IPin));
    EXPECT_FALSE(VornMedia::Answers<IPin>(IID_IUnknown));  // the identity is FindAmong's
}

}  // namespace
