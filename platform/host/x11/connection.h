// SPDX-License-Identifier: MIT
// The host world's one connection to the X display, shared by every thread under one lock,
// and the screen reads made through it.
#pragma once

#include <X11/Xlib.h>
#include <X11/extensions/Xfixes.h>

#include <cstdint>
#include <memory>
#include <mutex>
#include <utility>
#include <vector>

#include "host/x11/pixels.h"

namespace VornWorld {
namespace host {
namespace x11 {

struct Segment;

// Pixels read from the screen: `height` rows of `width` 0x00RRGGBB pixels (the top byte is
// what the server sent), `stride` pixels apart. `keep` holds the memory.
struct Pixels {
    const uint32_t* data = nullptr;
    size_t stride = 0;
    int width = 0;
    int height = 0;
    std::shared_ptr<const void> keep;
};

// The whole screen as the server wrote it into shared memory, lent as it lies: `height` rows of
// `width` 0x00RRGGBB words (blue first in memory), top row first, `stride` bytes apart. While
// `keep` lives the rows are never written again.
struct ScreenImage {
    const uint8_t* data = nullptr;
    size_t stride = 0;
    int width = 0;
    int height = 0;
    bool changed = false;  // the screen changed since the image lent before (or it is the first)
    std::shared_ptr<const void> keep;
};

class Connection {
public:
    // The process's connection. It opens the display named by DISPLAY at its first use; with
    // VORN_X11_NO_SHM=1 in the environment it reads pixels without shared memory; with
    // VORN_X11_NO_DAMAGE=1 it reads the whole screen afresh every time (see GrabScreen).
    static Connection& The();

    // Every use of the display holds this lock.
    std::unique_lock<std::mutex> Lock() { return std::unique_lock<std::mutex>(mutex_); }

    // With the lock held: the display, opened if needed; null when none can be reached (an
    // attempt at most once a second) or when the last one was lost.
    Display* Get();
    Window Root() const { return root_; }
    int Width() const { return width_; }
    int Height() const { return height_; }

    // With the lock held: an error trap around requests that may fail (a window destroyed
    // meanwhile). Clear it, make the requests (each with a reply, or then Sync()), and ask.
    void ClearError() { error_ = 0; }
    bool Failed() const { return error_ != 0 || lost_; }
    void Sync();

    // With the lock held: reads the rectangle (x, y, w, h) of the root window, which lies
    // inside the screen, through shared memory or with XGetImage.
    bool Grab(int x, int y, int w, int h, Pixels* pixels);
    bool UsingSharedMemory() const { return shm_ && shmAllowed_; }
    // With the lock held: the whole screen from one of a few copies kept up to date from the
    // server's DAMAGE reports, with the cursor drawn in. The copy lent last is lent again while
    // the screen and the cursor (its place and shape) are unchanged; otherwise a copy no image
    // holds any more is brought up to date by reading only the rows damaged since it was last
    // current and those its cursor covered. False when the screen is not in 32-bit 0x00RRGGBB
    // words, there is no shared memory or DAMAGE, or every copy is still held.
    bool LendScreen(ScreenImage* image);
    // Screen copies LendScreen keeps at most: images held beyond that make it refuse.
    static constexpr size_t kScreenCopies = 3;
    // With the lock held: whether reads may use shared memory (tests read both ways).
    void AllowSharedMemory(bool allowed) { shmAllowed_ = allowed; }

    // Shared-memory segments in existence (leased or kept for reuse), or only those leased to
    // pixels still read.
    long LiveSegments(bool leasedOnly) const;
    // With the lock held: an id of this client's resources on the server (0 without one).
    unsigned long ClientId() const;

    // Whether the server gives the cursor's image (XFixes 2 or later).
    bool cursorImages = false;
    struct FreeCursor {
        void operator()(XFixesCursorImage* cursor) const { XFree(cursor); }
    };
    using CursorImage = std::unique_ptr<XFixesCursorImage, FreeCursor>;
    // With the lock held: the cursor's image (premultiplied 0xAARRGGBB) and where it is; null
    // when the server gives none.
    CursorImage ReadCursor();
    // With the lock held: the cursor as LendScreen draws it, its image read again only after
    // the server said the shape changed (XFixes cursor notify events), its place asked with the
    // cheap pointer query; null when the server gives no image.
    const XFixesCursorImage* CurrentCursor();
    // Atoms interned once per connection.
    Atom netClientList = 0, netClientListStacking = 0, netWmName = 0, netWmPid = 0,
         netFrameExtents = 0, utf8String = 0;

private:
    Connection() = default;
    bool Open();
    void Close();
    bool GrabShared(int x, int y, int w, int h, Pixels* pixels);
    // The whole screen from a segment kept up to date: only the rows the server reports
    // changed (DAMAGE extension) since the last read are read again. False, with nothing
    // read, when the server has no such extension or the segment is still being read.
    bool GrabScreen(Pixels* pixels);
    bool GrabPlain(int x, int y, int w, int h, Pixels* pixels);
    // The layout of a whole-screen image in shared memory, made once per connection; false
    // when none can be made.
    bool ScreenLayout(PixelFormat* format, size_t* bytesPerLine);
    void DropLayout();
    // The rows damaged since the last call, as sorted disjoint bands [top, bottom); every
    // screen copy not being read now (LendScreen's and GrabScreen's) is told of them.
    std::vector<std::pair<int, int>> TakeDamage();
    // Blends the cursor over a whole-screen copy, clipped to the screen; the rows it covered
    // as a band [top, bottom), empty when it lies outside.
    std::pair<int, int> DrawCursor(Segment& segment, size_t bytesPerLine,
                                   const XFixesCursorImage& cursor);
    // Reads the bands of rows of the root window into the whole-screen segment.
    bool ReadBands(Segment& segment, const std::vector<std::pair<int, int>>& bands,
                   size_t bytesPerLine);
    // A new segment of `bytes` attached to the display; null when none can be.
    std::unique_ptr<Segment> Attach(size_t bytes);
    // Lets go of a segment (detached from the display of its own connection).
    void Detach(Segment& segment);

    static int OnError(Display* display, XErrorEvent* event);
    static void OnLost(Display* display, void* self);

    std::mutex mutex_;
    Display* display_ = nullptr;
    bool lost_ = false;
    bool attempted_ = false;
    int64_t lastAttempt_ = 0;
    Window root_ = 0;
    int width_ = 0;
    int height_ = 0;
    Visual* visual_ = nullptr;
    int depth_ = 0;
    PixelFormat format_;
    bool shm_ = false;  // the server offers shared memory and it works from here
    bool shmAllowed_ = true;
    unsigned long damage_ = 0;   // the root window's Damage object (0: none)
    unsigned long changed_ = 0;  // the region its damage is moved into
    int damageEvent_ = 0;
    int error_ = 0;
    uint64_t generation_ = 0;
    unsigned long clientId_ = 0;  // counts connections, so old segments are not used on new ones

    // ScreenLayout's, for the connection of `layoutGeneration_`: the whole screen's image
    // without memory, lent a segment's rows for each band ReadBands reads.
    uint64_t layoutGeneration_ = 0;
    XImage* layout_ = nullptr;
    PixelFormat layoutFormat_;
    int fixesEvent_ = 0;
    CursorImage cursor_;  // CurrentCursor's

    struct Segments;
    std::shared_ptr<Segments> segments_;
    struct ScreenCopy;
    std::vector<std::shared_ptr<ScreenCopy>> copies_;  // LendScreen's
    std::shared_ptr<ScreenCopy> latest_;               // the copy lent last
};

}  // namespace x11
}  // namespace host
}  // namespace VornWorld
