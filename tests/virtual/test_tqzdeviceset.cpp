// SPDX-License-Identifier: MIT
// The set's lookup rules over a small stand-in device, independently of any capture class (its
// copies, Free and deletion are checked against a model by fuzz_sets).
#include <gtest/gtest.h>

#include <string>

#include "internal/tqzdeviceset_impl.h"

namespace {

struct FakeDevice {
    FakeDevice() = default;
    explicit FakeDevice(const FakeDevice* source) {
        if (source == nullptr) return;
        Index = source->Index;
        Name = source->Name;
        Caption = source->Caption;
    }
    virtual ~FakeDevice() = default;

    unsigned int Index = 0;
    std::string Name;
    std::string Caption;
};

FakeDevice Make(unsigned int index, const std::string& name, const std::string& caption = "") {
    FakeDevice d;
    d.Index = index;
    d.Name = name;
    d.Caption = caption.empty() ? name : caption;
    return d;
}

using Set = TQZCapture::TQZDeviceSet<FakeDevice>;

}  // namespace

TEST(TQZDeviceSet, LookupsFollowIndexFieldNameAndBounds) {
    struct Case {
        const char* what;
        std::vector<FakeDevice> devices;
        unsigned int index;
        int expected;  // position in the list, -1 for null
    };
    const std::vector<Case> cases = {
        {"index equals position", {Make(0, "a"), Make(1, "b"), Make(2, "c")}, 1, 1},
        {"index at count", {Make(0, "a"), Make(1, "b"), Make(2, "c")}, 3, -1},
        {"index above count even when present", {Make(5, "a"), Make(5, "b")}, 5, -1},
        {"field, not position", {Make(1, "a"), Make(0, "b")}, 0, 1},
        {"first of duplicates", {Make(0, "a"), Make(0, "b")}, 0, 0},
        {"empty set", {}, 0, -1},
    };
    for (const auto& c : cases) {
        Set set;
        for (const auto& d : c.devices) set.Push(&d);
        FakeDevice* found = set.GetByIndex(c.index);
        if (c.expected < 0) {
            EXPECT_EQ(nullptr, found) << c.what;
        } else {
            auto it = set.GetList()->begin();
            std::advance(it, c.expected);
            EXPECT_EQ(*it, found) << c.what;
        }
    }
}

TEST(TQZDeviceSet, NameAndCaptionLookupsMatchNameExactly) {
    Set set;
    FakeDevice unnamed = Make(0, "");
    FakeDevice camera = Make(1, "Front Camera", "Cam");
    FakeDevice desktop = Make(2, "Desktop");
    FakeDevice twin = Make(3, "Desktop");
    for (auto* d : {&unnamed, &camera, &desktop, &twin}) set.Push(d);
    auto at = [&](int n) { return *std::next(set.GetList()->begin(), n); };

    EXPECT_EQ(nullptr, set.GetByName(""));
    EXPECT_EQ(nullptr, set.GetByName("desktop"));
    EXPECT_EQ(nullptr, set.GetByName("Desktop "));
    EXPECT_EQ(at(2), set.GetByName("Desktop"));
    EXPECT_EQ(at(2), set.GetByCaption("Desktop"));
    EXPECT_EQ(at(1), set.GetByCaption("Front Camera"));
    EXPECT_EQ(nullptr, set.GetByCaption("Cam"));
}
