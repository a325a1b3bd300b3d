// SPDX-License-Identifier: MIT
#pragma once

#include <cstdint>

#include "tqzexport.h"
#include "tqzlocker.h"

namespace TQZCapture {

// A block of bytes with its own lock; the byte part of every TQZPacket.
//
// Ownership: the store owns its block and frees it in Free() and in its destructor.
// Bytes() lends the block; the pointer is valid until the next mutating call.
// Copies are deep: a copy (or an assignment) gets its own block and its own lock.
//
// Threading: Append, Clear, Free, Erase and CopyFrom hold the store's lock for their whole
// work. Bytes() and Size() read without it: a reader that needs a consistent pair while
// another thread writes takes care of that itself. CopyFrom does not lock the source.
//
// Results: Append returns the size after the call. It refuses (and returns the unchanged
// size) null data, a zero length, a position + length beyond 4 GiB - 1, and a request the
// memory cannot satisfy; in every refused case the store is left as it was.
class TQZ_API TQZMemory {
public:
    TQZMemory();
    TQZMemory(const TQZMemory& other);
    TQZMemory(TQZMemory&& other) noexcept;
    TQZMemory& operator=(const TQZMemory& other);
    TQZMemory& operator=(TQZMemory&& other) noexcept;
    virtual ~TQZMemory();

    // Replaces the content by a copy of source's bytes. False for a null source (the store
    // is then empty) or when memory runs out (the store is then empty as well).
    // Copying a store onto itself changes nothing and returns true.
    virtual bool CopyFrom(const TQZMemory* source);

    // Writes length bytes at offset position; the store becomes exactly position + length
    // bytes long. Old bytes before position are kept, bytes after it are dropped, and a gap
    // between the old end and position is filled with zeros. Position 0 replaces the
    // content; position Size() appends.
    unsigned long Append(unsigned char const* data, unsigned long length, unsigned long position);

    unsigned char* Bytes() const;  // null when empty
    unsigned long Size() const;

    void Clear();  // sets every byte to 0; the size stays
    void Free();   // releases the block: Bytes() null, Size() 0

    // Removes the bytes at positions first to last - 1 and moves the rest forward, so the
    // store shrinks by last - first. last is limited to Size(). Does nothing when first is
    // 0 (use Free() or Append at 0 to drop or replace the start), when last is 0, or when
    // first is not below last.
    void Erase(unsigned int first, unsigned int last);

private:
    void ReleaseBlock();

    unsigned char* data_;
    std::uint32_t size_;
    TQZLocker lock_;
};

}  // namespace TQZCapture
