// SPDX-License-Identifier: MIT
// Shared pieces of the COM parity tests, which run against the real Windows services and
// against the platform layer alike.
#pragma once

#include <gtest/gtest.h>

#include <string>
#include <utility>
#include <vector>

#include "com_objects.h"
#include "vornplatform.h"

namespace comparity {

// Sample grabber and null renderer: not declared by either platform's headers.
using comtest::kNullRenderer;
using comtest::kSampleGrabber;

// Owns one reference.
template <class T>
using Ref = comtest::Ptr<T>;

// Initialises COM for the test's thread and undoes it afterwards.
class ComTest : public ::testing::Test {
protected:
    void SetUp() override { ASSERT_TRUE(SUCCEEDED(CoInitialize(nullptr))); }
    void TearDown() override { CoUninitialize(); }
};

// Text of an identifier, as the registry writes it.
std::wstring GuidText(REFGUID guid);

}  // namespace comparity
