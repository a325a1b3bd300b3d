// SPDX-License-Identifier: MIT
#pragma once

#include <vector>

#include "tqzexport.h"

namespace TQZCapture {

// A growable byte sequence without a lock; the byte part of every TQZFrame.
//
// Ownership: the buffer owns its bytes; bytes() lends them until the next change.
// Copies and assignments copy the bytes (two buffers never share storage).
// Threading: none of its own; use a buffer from one thread at a time.
// Results: append leaves the buffer unchanged when given null data, a zero length, a
// total beyond the largest int, or when memory runs out.
class TQZ_API TQZBuffer {
public:
    // Starts empty; appends length bytes from data when data is not null and length not 0.
    explicit TQZBuffer(const char* data = nullptr, unsigned int length = 0);
    TQZBuffer(const TQZBuffer& other);             // empty if memory runs out
    TQZBuffer& operator=(const TQZBuffer& other);  // unchanged if memory runs out
    virtual ~TQZBuffer();

    void append(char const* data, unsigned int length);  // adds data[0..length-1] at the end
    char* bytes();                                       // first byte; null when empty
    const char* bytes() const;
    int size() const;
    bool empty() const;
    void clear();
    // Removes the first count bytes and keeps the rest in order. A count of size() or more
    // empties the buffer; a count of 0 or less does nothing.
    void erase(int count);

private:
    std::vector<char> bytes_;
};

}  // namespace TQZCapture
