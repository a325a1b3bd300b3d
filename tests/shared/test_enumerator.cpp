// SPDX-License-Identifier: MIT
// The enumerators both filter stacks hand out, over a snapshot: Next, Skip, Reset and Clone as
// a client walks them, refused calls, and what the records handed out hold.
#include <gtest/gtest.h>

#include "counted.h"

#include <vector>

#include "shared/enumerator.h"

namespace {

using VornMedia::EnumCall;
using VornMedia::MediaType;

// The COM object under the enumerator: freed with its last reference, refusing every call
// while the flag it shares with its clones is set.
class TestEnumObject : public IEnumMediaTypes {
public:
    using Setup = bool*;
    explicit TestEnumObject(bool* refuse) : refuse_(refuse) {}
    HRESULT STDMETHODCALLTYPE QueryInterface(REFIID, void** out) override {
        *out = nullptr;
        return E_NOINTERFACE;
    }
    ULONG STDMETHODCALLTYPE AddRef() override { return ++references_; }
    ULONG STDMETHODCALLTYPE Release() override {
        const ULONG left = --references_;
        if (left == 0) delete this;
        return left;
    }

protected:
    virtual ~TestEnumObject() = default;
    bool Refuses(EnumCall) const { return *refuse_; }
    bool* CloneSetup() const { return refuse_; }

private:
    bool* refuse_;
    ULONG references_ = 1;
};

using TypeEnum = VornMedia::ListEnum<TestEnumObject, IEnumMediaTypes, AM_MEDIA_TYPE*, MediaType>;

class SharedEnumerator : public ::testing::Test {
protected:
    SharedEnumerator() {
        for (const GUID* subtype : {&MEDIASUBTYPE_RGB24, &MEDIASUBTYPE_YUY2, &MEDIASUBTYPE_RGB32}) {
            // The record copied below points into `video`'s format block: it must outlive it.
            const MediaType video = MediaType::Video(*subtype, 320, 240, 333333);
            AM_MEDIA_TYPE raw = video.Type();
            raw.pUnk = &object;
            types.emplace_back(raw);
        }
        walker = new TypeEnum(&refuse, types);
    }
    ~SharedEnumerator() override {
        walker->Release();
        types.clear();
        EXPECT_EQ(object.references, 1u);  // every record and snapshot gave its reference back
    }
    // Takes `count` records and checks their subtypes; frees them.
    void ExpectNext(IEnumMediaTypes* from, ULONG count, HRESULT result,
                    std::vector<const GUID*> subtypes) {
        std::vector<AM_MEDIA_TYPE*> got(count + 1, nullptr);
        ULONG fetched = 99;
        EXPECT_EQ(from->Next(count, got.data(), &fetched), result);
        ASSERT_EQ(fetched, subtypes.size());
        for (ULONG i = 0; i < fetched; ++i) {
            ASSERT_NE(got[i], nullptr);
            EXPECT_TRUE(IsEqualGUID(got[i]->subtype, *subtypes[i]));
            EXPECT_EQ(got[i]->pUnk, &object);
            VornMedia::DeleteMediaType(got[i]);
        }
    }

    Counted object;
    std::vector<MediaType> types;
    bool refuse = false;
    TypeEnum* walker = nullptr;
};

TEST_F(SharedEnumerator, NextHandsOutCopiesInOrderUntilTheEnd) {
    ExpectNext(walker, 1, S_OK, {&MEDIASUBTYPE_RGB24});
    ExpectNext(walker, 5, S_FALSE, {&MEDIASUBTYPE_YUY2, &MEDIASUBTYPE_RGB32});
    ExpectNext(walker, 1, S_FALSE, {});
    EXPECT_EQ(walker->Reset(), S_OK);
    ExpectNext(walker, 3, S_OK, {&MEDIASUBTYPE_RGB24, &MEDIASUBTYPE_YUY2, &MEDIASUBTYPE_RGB32});
}

TEST_F(SharedEnumerator, SkipStopsAtTheEndAndSaysSo) {
    struct Case {
        ULONG skip;
        HRESULT result;
        std::vector<const GUID*> next;
    } cases[] = {
        {0, S_OK, {&MEDIASUBTYPE_RGB24}},
        {2, S_OK, {&MEDIASUBTYPE_RGB32}},
        {3, S_OK, {}},
        {4, S_FALSE, {}},
        {0xFFFFFFFFu, S_FALSE, {}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.skip);
        ASSERT_EQ(walker->Reset(), S_OK);
        EXPECT_EQ(walker->Skip(c.skip), c.result);
        ExpectNext(walker, 1, c.next.empty() ? S_FALSE : S_OK, c.next);
    }
}

TEST_F(SharedEnumerator, ACloneGoesOnFromTheSamePlaceOnItsOwn) {
    ExpectNext(walker, 1, S_OK, {&MEDIASUBTYPE_RGB24});
    IEnumMediaTypes* clone = nullptr;
    ASSERT_EQ(walker->Clone(&clone), S_OK);
    ASSERT_NE(clone, nullptr);
    ExpectNext(clone, 2, S_OK, {&MEDIASUBTYPE_YUY2, &MEDIASUBTYPE_RGB32});
    ExpectNext(walker, 1, S_OK, {&MEDIASUBTYPE_YUY2});
    clone->Release();
    EXPECT_EQ(walker->Clone(nullptr), E_POINTER);
}

TEST_F(SharedEnumerator, BadArgumentsAndRefusedCallsHandOutNothing) {
    AM_MEDIA_TYPE* got[2] = {reinterpret_cast<AM_MEDIA_TYPE*>(&object), nullptr};
    ULONG fetched = 99;
    EXPECT_EQ(walker->Next(1, nullptr, &fetched), E_POINTER);
    EXPECT_EQ(fetched, 0u);
    // More than one wanted and nowhere to say how many came.
    EXPECT_EQ(walker->Next(2, got, nullptr), E_INVALIDARG);
    EXPECT_EQ(got[0], nullptr);
    refuse = true;
    got[0] = reinterpret_cast<AM_MEDIA_TYPE*>(&object);
    fetched = 99;
    EXPECT_EQ(walker->Next(1, got, &fetched), E_FAIL);
    EXPECT_EQ(got[0], nullptr);
    EXPECT_EQ(fetched, 0u);
    EXPECT_EQ(walker->Skip(1), E_FAIL);
    EXPECT_EQ(walker->Reset(), E_FAIL);
    refuse = false;
    // Nothing of that moved the enumerator.
    ExpectNext(walker, 1, S_OK, {&MEDIASUBTYPE_RGB24});
}

}  // namespace
