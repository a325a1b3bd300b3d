// SPDX-License-Identifier: MIT
#include "tqzbuffer.h"
#include "tqzmemory.h"

#include <gtest/gtest.h>

#include <climits>
#include <string>

#include "recordbytes.h"

using TQZCapture::TQZBuffer;
using TQZCapture::TQZMemory;

namespace {

void Fill(TQZMemory& memory, const std::string& text) {
    memory.Free();
    memory.Append(reinterpret_cast<const unsigned char*>(text.data()), text.size(), 0);
}

const unsigned char* U(const char* text) { return reinterpret_cast<const unsigned char*>(text); }

}  // namespace

TEST(TQZMemory, AppendWritesAtPositionAndCutsAfterIt) {
    struct Case {
        const char* name;
        std::string before;
        const char* data;
        unsigned long length;
        unsigned long position;
        std::string after;
    };
    const std::string digits = "0123456789";
    const Case cases[] = {
        {"fills an empty store", "", "0123456789", 10, 0, digits},
        {"appends at the end", digits, "abcd", 4, 10, digits + "abcd"},
        {"replaces from position 0", digits, "abcd", 4, 0, "abcd"},
        {"overwrites and cuts in the middle", digits, "ab", 2, 4, "0123ab"},
        {"zero-fills a gap", "012", "xy", 2, 5, std::string("012\0\0xy", 7)},
        {"ignores null data", digits, nullptr, 4, 0, digits},
        {"ignores zero length", digits, "abcd", 0, 0, digits},
        {"refuses an end past 4 GiB", digits, "abcd", 4, 0xFFFFFFFDul, digits},
        {"refuses a length past 4 GiB", digits, "abcd", 0xFFFFFFFFul, 1, digits},
        // Where unsigned long has 64 bits, these ends wrap around to small numbers.
        {"refuses the largest positions", digits, "abcd", 4, ~0ul - 1, digits},
        {"refuses the largest lengths", digits, "abcd", ~0ul, 2, digits},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        TQZMemory memory;
        Fill(memory, c.before);
        EXPECT_EQ(memory.Append(U(c.data), c.length, c.position), c.after.size());
        EXPECT_EQ(BytesOf(memory), c.after);
    }
}

TEST(TQZMemory, EraseRemovesAHalfOpenRangeAfterPositionZero) {
    struct Case {
        unsigned int first, last;
        std::string after;
    };
    const Case cases[] = {
        {2, 5, "0156789"},     {1, 10, "0"},
        {7, 100, "0123456"},   {0, 5, "0123456789"},
        {3, 0, "0123456789"},  {12, 20, "0123456789"},
        {1, 0xFFFFFFFFu, "0"}, {0x80000000u, 0xFFFFFFFFu, "0123456789"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(std::to_string(c.first) + ", " + std::to_string(c.last));
        TQZMemory memory;
        Fill(memory, "0123456789");
        memory.Erase(c.first, c.last);
        EXPECT_EQ(BytesOf(memory), c.after);
    }
}

TEST(TQZBuffer, ConstructionAppendAndEmptiness) {
    EXPECT_TRUE(TQZBuffer().empty());
    EXPECT_EQ(TQZBuffer().bytes(), nullptr);
    EXPECT_TRUE(TQZBuffer(nullptr, 4).empty());
    EXPECT_TRUE(TQZBuffer("abcd", 0).empty());

    TQZBuffer buffer("ab", 2);
    buffer.append("cd", 2);
    buffer.append(nullptr, 3);
    buffer.append("xyz", INT_MIN);
    buffer.append("xyz", -1);
    buffer.append(buffer.bytes(), 2);  // its own bytes
    TQZBuffer& same = buffer;          // through a reference the compiler cannot see is the same
    buffer = same;
    TQZBuffer copy(buffer);
    buffer.clear();
    buffer.clear();
    buffer.erase(1);
    EXPECT_EQ(buffer.bytes(), nullptr);
    EXPECT_EQ(BytesOf(copy), "abcdab");
    EXPECT_EQ(copy.size(), 6);
}
