// SPDX-License-Identifier: MIT
#include "host/x11/connection.h"

#include <X11/Xutil.h>
#include <X11/extensions/XShm.h>
#include <X11/extensions/Xdamage.h>
#include <X11/extensions/Xfixes.h>
#include <sys/ipc.h>
#include <sys/shm.h>

#include <algorithm>
#include <atomic>
#include <cstdint>
#include <chrono>
#include <cstdlib>
#include <cstring>
#include <new>
#include <vector>

#include "world/display.h"

namespace VornWorld {
namespace host {
namespace x11 {
namespace {

// The display the error handler answers for; errors of other connections in the process go to
// the handler that was there before.
std::atomic<Display*> gOurs{nullptr};
XErrorHandler gPrevious = nullptr;
XIOErrorHandler gPreviousIo = nullptr;

// A lost connection: Xlib's default handler ends the process; ours lets Xlib go on to the
// connection's exit handler (OnLost), which marks it lost.
int OnIoError(Display* display) {
    if (display == gOurs.load()) return 0;
    return gPreviousIo != nullptr ? gPreviousIo(display) : 0;
}

// Largest read: 2^30 bytes.
constexpr uint64_t kMaxBytes = uint64_t{1} << 30;
// Segments kept for reuse: a read leaves at most this many, the one it leased included.
constexpr size_t kKeptSegments = 2;

int64_t NowMs() {
    using namespace std::chrono;
    return duration_cast<milliseconds>(steady_clock::now().time_since_epoch()).count();
}

bool Enabled(const char* name) {
    const char* value = std::getenv(name);
    return value != nullptr && *value != '\0' && std::strcmp(value, "0") != 0;
}

// The pixels of an image read from the server: in place when they are already 0x??RRGGBB words
// (`keep` then holds them), otherwise converted into rows of their own.
bool Adopt(const PixelFormat& format, const uint8_t* data, size_t bytesPerLine, int w, int h,
           std::shared_ptr<const void> keep, Pixels* pixels) {
    if (IsDirect(format)) {
        pixels->data = reinterpret_cast<const uint32_t*>(data);
        pixels->stride = bytesPerLine / 4;
        pixels->keep = std::move(keep);
        return true;
    }
    if (!CanConvert(format)) return false;
    auto rows = std::make_shared<std::vector<uint32_t>>();
    try {
        rows->resize(static_cast<size_t>(w) * static_cast<size_t>(h));
    } catch (const std::bad_alloc&) {
        return false;
    }
    for (int y = 0; y < h; ++y) {
        ConvertRow(format, data + static_cast<size_t>(y) * bytesPerLine, w,
                   rows->data() + static_cast<size_t>(y) * w);
    }
    pixels->data = rows->data();
    pixels->stride = static_cast<size_t>(w);
    pixels->keep = std::move(rows);
    return true;
}

PixelFormat FormatOfImage(const XImage& image) {
    PixelFormat f;
    f.bitsPerPixel = image.bits_per_pixel;
    f.red = static_cast<uint32_t>(image.red_mask);
    f.green = static_cast<uint32_t>(image.green_mask);
    f.blue = static_cast<uint32_t>(image.blue_mask);
    f.msbFirst = image.byte_order == MSBFirst;
    return f;
}

using Bands = std::vector<std::pair<int, int>>;

// Sorts bands of rows and joins those that touch or overlap.
void MergeBands(Bands& bands) {
    std::sort(bands.begin(), bands.end());
    size_t merged = 0;
    for (const auto& band : bands) {
        if (merged > 0 && band.first <= bands[merged - 1].second) {
            bands[merged - 1].second = std::max(bands[merged - 1].second, band.second);
        } else {
            bands[merged++] = band;
        }
    }
    bands.resize(merged);
}

}  // namespace

// A shared-memory segment attached to the display of one connection.
struct Segment {
    XShmSegmentInfo info{};
    size_t bytes = 0;
    uint64_t generation = 0;
    // The screen's copy: it shows the screen as of the damage last taken from the server.
    bool current = false;
};

struct Connection::Segments {
    std::mutex mutex;
    std::vector<std::unique_ptr<Segment>> kept;  // back from their leases
    // The screen's copy (GrabScreen) between reads; null while its pixels are read.
    std::unique_ptr<Segment> screen;
    bool screenLeased = false;
    // Damage GrabScreen's copy missed (taken for LendScreen's copies): it reads all again.
    bool screenStale = false;
    long live = 0;
    long leased = 0;
};

// One of LendScreen's copies of the screen, and the rows the server damaged since it was read.
// Where the cursor is drawn in a screen copy and which image it is; none drawn when hidden.
struct CursorPlace {
    bool shown = false;
    unsigned long serial = 0;
    long left = 0;
    long top = 0;

    bool operator==(const CursorPlace& other) const {
        return shown == other.shown &&
               (!shown || (serial == other.serial && left == other.left && top == other.top));
    }
};

CursorPlace PlaceOf(const XFixesCursorImage* cursor) {
    CursorPlace place;
    if (cursor == nullptr || cursor->width == 0 || cursor->height == 0) return place;
    place.shown = true;
    place.serial = cursor->cursor_serial;
    place.left = long{cursor->x} - cursor->xhot;
    place.top = long{cursor->y} - cursor->yhot;
    return place;
}

struct Connection::ScreenCopy {
    std::shared_ptr<Segments> pool;
    std::unique_ptr<Segment> segment;
    Bands stale;
    CursorPlace cursor;                    // the cursor drawn into it
    std::pair<int, int> cursorRows{0, 0};  // the rows that drawing covered, read again next time
    std::atomic<int> lent{0};              // images over it still held (let go on any thread)

    ~ScreenCopy() {
        if (!segment) return;
        // Detached from the display by Connection when it still can; the memory goes here.
        if (segment->info.shmaddr != nullptr) shmdt(segment->info.shmaddr);
        std::lock_guard<std::mutex> lock(pool->mutex);
        --pool->live;
    }
};

Connection& Connection::The() {
    static Connection* connection = new Connection();  // lives as long as the process
    return *connection;
}

int Connection::OnError(Display* display, XErrorEvent* event) {
    if (display == gOurs.load()) {
        The().error_ = event->error_code;
        return 0;
    }
    return gPrevious != nullptr ? gPrevious(display, event) : 0;
}

void Connection::OnLost(Display* display, void* self) {
    (void)display;
    // Xlib ends the process after this handler unless it returns; the connection is marked
    // lost and every later request fails.
    static_cast<Connection*>(self)->lost_ = true;
}

bool Connection::Open() {
    display_ = XOpenDisplay(nullptr);
    if (display_ == nullptr) return false;
    ++generation_;
    if (!segments_) segments_ = std::make_shared<Segments>();
    XSetIOErrorExitHandler(display_, &Connection::OnLost, this);
    gOurs.store(display_);
    static bool installed = false;
    if (!installed) {
        gPrevious = XSetErrorHandler(&Connection::OnError);
        gPreviousIo = XSetIOErrorHandler(&OnIoError);
        installed = true;
    }
    int screen = DefaultScreen(display_);
    root_ = RootWindow(display_, screen);
    width_ = DisplayWidth(display_, screen);
    height_ = DisplayHeight(display_, screen);
    visual_ = DefaultVisual(display_, screen);
    depth_ = DefaultDepth(display_, screen);
    format_ = PixelFormat{};
    format_.bitsPerPixel = 0;
    int count = 0;
    if (XPixmapFormatValues* formats = XListPixmapFormats(display_, &count)) {
        for (int i = 0; i < count; ++i) {
            if (formats[i].depth == depth_) format_.bitsPerPixel = formats[i].bits_per_pixel;
        }
        XFree(formats);
    }
    format_.red = static_cast<uint32_t>(visual_->red_mask);
    format_.green = static_cast<uint32_t>(visual_->green_mask);
    format_.blue = static_cast<uint32_t>(visual_->blue_mask);
    format_.msbFirst = ImageByteOrder(display_) == MSBFirst;
    shm_ = !Enabled("VORN_X11_NO_SHM") && XShmQueryExtension(display_) && CanConvert(format_);

    // The cursor's image needs version 2 of XFixes, asked for before any other request of it.
    int event = 0, error = 0, major = 2, minor = 0;
    cursorImages = XFixesQueryExtension(display_, &event, &error) &&
                   XFixesQueryVersion(display_, &major, &minor) && major >= 2;
    if (cursorImages) {
        // Told when the cursor's shape changes, so its image is read only then.
        fixesEvent_ = event;
        XFixesSelectCursorInput(display_, root_, XFixesDisplayCursorNotifyMask);
    }

    // An id never used for a resource, but within this client's range.
    clientId_ = XAllocID(display_);

    netClientList = XInternAtom(display_, "_NET_CLIENT_LIST", False);
    netClientListStacking = XInternAtom(display_, "_NET_CLIENT_LIST_STACKING", False);
    netWmName = XInternAtom(display_, "_NET_WM_NAME", False);
    netWmPid = XInternAtom(display_, "_NET_WM_PID", False);
    netFrameExtents = XInternAtom(display_, "_NET_FRAME_EXTENTS", False);
    utf8String = XInternAtom(display_, "UTF8_STRING", False);

    // What changes on the screen is collected by the server in a Damage object (its region
    // needs XFixes 2), so that a read of the whole screen reads only what changed.
    damage_ = changed_ = 0;
    if (shm_ && cursorImages && !Enabled("VORN_X11_NO_DAMAGE") &&
        XDamageQueryExtension(display_, &damageEvent_, &error)) {
        major = 1;
        minor = 1;
        if (XDamageQueryVersion(display_, &major, &minor)) {
            damage_ = XDamageCreate(display_, root_, XDamageReportNonEmpty);
            changed_ = XFixesCreateRegion(display_, nullptr, 0);
        }
    }
    return true;
}

void Connection::Close() {
    // Kept segments go with the connection; leased ones are let go when they come back.
    std::vector<std::unique_ptr<Segment>> kept;
    {
        std::lock_guard<std::mutex> lock(segments_->mutex);
        kept.swap(segments_->kept);
        if (segments_->screen) kept.push_back(std::move(segments_->screen));
        segments_->live -= static_cast<long>(kept.size());
    }
    for (auto& s : kept) Detach(*s);
    for (auto& copy : copies_) {
        if (copy->lent.load() == 0) {
            Detach(*copy->segment);
            copy->segment->info.shmaddr = nullptr;
        }
    }
    copies_.clear();
    latest_.reset();
    DropLayout();
    cursor_.reset();
    // The Damage object and its region go with the connection.
    damage_ = changed_ = 0;
    // Still ours while it closes: a lost connection may report its loss once more.
    XCloseDisplay(display_);
    gOurs.store(nullptr);
    display_ = nullptr;
    lost_ = false;
}

Display* Connection::Get() {
    if (display_ != nullptr && lost_) Close();
    if (display_ != nullptr) return display_;
    int64_t now = NowMs();
    if (attempted_ && now - lastAttempt_ < 1000) return nullptr;
    attempted_ = true;
    lastAttempt_ = now;
    return Open() ? display_ : nullptr;
}

void Connection::Sync() {
    if (display_ != nullptr && !lost_) XSync(display_, False);
}

unsigned long Connection::ClientId() const { return display_ != nullptr && !lost_ ? clientId_ : 0; }

long Connection::LiveSegments(bool leasedOnly) const {
    if (!segments_) return 0;
    std::lock_guard<std::mutex> lock(segments_->mutex);
    return leasedOnly ? segments_->leased : segments_->live;
}

bool Connection::Grab(int x, int y, int w, int h, Pixels* pixels) {
    if (Get() == nullptr || w <= 0 || h <= 0 || x < 0 || y < 0 || x + w > width_ ||
        y + h > height_) {
        return false;
    }
    pixels->width = w;
    pixels->height = h;
    if (UsingSharedMemory()) {
        const bool screen = x == 0 && y == 0 && w == width_ && h == height_;
        if (screen && GrabScreen(pixels)) return true;
        if (GrabShared(x, y, w, h, pixels)) return true;
    }
    if (lost_) return false;
    return GrabPlain(x, y, w, h, pixels);
}

bool Connection::GrabShared(int x, int y, int w, int h, Pixels* pixels) {
    uint64_t rowBytes = (static_cast<uint64_t>(w) * format_.bitsPerPixel + 31) / 32 * 4;
    uint64_t need = rowBytes * static_cast<uint64_t>(h);
    if (need > kMaxBytes) return false;

    // The smallest kept segment that holds the image; the others beyond a few, and those of a
    // lost connection, are let go.
    std::unique_ptr<Segment> segment;
    std::vector<std::unique_ptr<Segment>> drop;
    {
        std::lock_guard<std::mutex> lock(segments_->mutex);
        auto& kept = segments_->kept;
        auto best = kept.end();
        for (auto it = kept.begin(); it != kept.end(); ++it) {
            if ((*it)->generation == generation_ && (*it)->bytes >= need &&
                (best == kept.end() || (*it)->bytes < (*best)->bytes)) {
                best = it;
            }
        }
        if (best != kept.end()) {
            segment = std::move(*best);
            kept.erase(best);
        }
        for (auto it = kept.begin(); it != kept.end();) {
            if ((*it)->generation != generation_ || kept.size() >= kKeptSegments) {
                drop.push_back(std::move(*it));
                it = kept.erase(it);
            } else {
                ++it;
            }
        }
        segments_->live -= static_cast<long>(drop.size());
    }
    for (auto& s : drop) Detach(*s);

    if (!segment) segment = Attach(static_cast<size_t>(need));
    if (!segment) return false;

    XImage* image = XShmCreateImage(display_, visual_, static_cast<unsigned>(depth_), ZPixmap,
                                    segment->info.shmaddr, &segment->info, static_cast<unsigned>(w),
                                    static_cast<unsigned>(h));
    bool ok = false;
    PixelFormat format = format_;
    size_t bytesPerLine = 0;
    if (image != nullptr) {
        ClearError();
        ok = XShmGetImage(display_, root_, image, x, y, AllPlanes) && !Failed();
        format = FormatOfImage(*image);
        bytesPerLine = static_cast<size_t>(image->bytes_per_line);
        // The image's memory is the segment's and its info ours: neither is Xlib's to free.
        image->data = nullptr;
        image->obdata = nullptr;
        XDestroyImage(image);
    }

    // The segment goes back to the kept ones when its pixels are no longer read.
    std::shared_ptr<Segments> pool = segments_;
    {
        std::lock_guard<std::mutex> lock(pool->mutex);
        ++pool->leased;
    }
    std::shared_ptr<Segment> lease(segment.release(), [pool](Segment* s) {
        std::lock_guard<std::mutex> lock(pool->mutex);
        --pool->leased;
        pool->kept.emplace_back(s);
    });
    if (!ok) return false;
    const auto* data = reinterpret_cast<const uint8_t*>(lease->info.shmaddr);
    return Adopt(format, data, bytesPerLine, w, h, std::move(lease), pixels);
}

std::unique_ptr<Segment> Connection::Attach(size_t bytes) {
    auto segment = std::make_unique<Segment>();
    segment->bytes = bytes;
    segment->generation = generation_;
    segment->info.shmid = shmget(IPC_PRIVATE, segment->bytes, IPC_CREAT | 0600);
    if (segment->info.shmid < 0) return nullptr;
    void* address = shmat(segment->info.shmid, nullptr, 0);
    if (address == reinterpret_cast<void*>(-1)) {
        shmctl(segment->info.shmid, IPC_RMID, nullptr);
        return nullptr;
    }
    segment->info.shmaddr = static_cast<char*>(address);
    segment->info.readOnly = False;
    ClearError();
    XShmAttach(display_, &segment->info);
    XSync(display_, False);
    // Removed now: the system frees it once both sides have let go, whatever happens.
    shmctl(segment->info.shmid, IPC_RMID, nullptr);
    if (Failed()) {
        // A display on another machine cannot share memory: read without it from now on.
        shmdt(segment->info.shmaddr);
        shm_ = false;
        return nullptr;
    }
    std::lock_guard<std::mutex> lock(segments_->mutex);
    ++segments_->live;
    return segment;
}

void Connection::Detach(Segment& segment) {
    if (segment.generation == generation_ && display_ != nullptr && !lost_)
        XShmDetach(display_, &segment.info);
    shmdt(segment.info.shmaddr);
}

bool Connection::ScreenLayout(PixelFormat* format, size_t* bytesPerLine) {
    if (layoutGeneration_ != generation_) {
        DropLayout();
        // Made on this side only: rows of the whole screen, one after another.
        layout_ =
            XShmCreateImage(display_, visual_, static_cast<unsigned>(depth_), ZPixmap, nullptr,
                            nullptr, static_cast<unsigned>(width_), static_cast<unsigned>(height_));
        if (layout_ == nullptr) return false;
        layoutFormat_ = FormatOfImage(*layout_);
        layoutGeneration_ = generation_;
    }
    if (layout_ == nullptr) return false;
    *format = layoutFormat_;
    *bytesPerLine = static_cast<size_t>(layout_->bytes_per_line);
    return uint64_t{*bytesPerLine} * static_cast<uint64_t>(height_) <= kMaxBytes;
}

void Connection::DropLayout() {
    if (layout_ != nullptr) {
        layout_->data = nullptr;
        layout_->obdata = nullptr;
        XDestroyImage(layout_);
    }
    layout_ = nullptr;
    layoutGeneration_ = 0;
}

std::vector<std::pair<int, int>> Connection::TakeDamage() {
    // The damage is taken from the server before the rows are read: what changes meanwhile is
    // read now and again next time.
    Bands bands;
    XDamageSubtract(display_, damage_, None, changed_);
    int count = 0;
    XRectangle* parts = XFixesFetchRegion(display_, changed_, &count);
    for (int i = 0; i < count; ++i) {
        const int top = std::max(0, static_cast<int>(parts[i].y));
        const int bottom = std::min(height_, parts[i].y + static_cast<int>(parts[i].height));
        if (top < bottom) bands.emplace_back(top, bottom);
    }
    if (parts != nullptr) XFree(parts);
    MergeBands(bands);
    // Only the region is read; the events saying it is no longer empty are let go.
    XEvent event;
    while (XCheckTypedEvent(display_, damageEvent_ + XDamageNotify, &event)) {
    }
    if (!bands.empty()) {
        for (auto& copy : copies_) {
            copy->stale.insert(copy->stale.end(), bands.begin(), bands.end());
            MergeBands(copy->stale);
        }
        std::lock_guard<std::mutex> lock(segments_->mutex);
        segments_->screenStale = true;
    }
    return bands;
}

bool Connection::ReadBands(Segment& segment, const std::vector<std::pair<int, int>>& bands,
                           size_t bytesPerLine) {
    PixelFormat format;
    size_t layoutBytes = 0;
    if (!ScreenLayout(&format, &layoutBytes) || layoutBytes != bytesPerLine) return false;
    ClearError();
    bool ok = true;
    for (const auto& band : bands) {
        // The layout lent the band's rows of the segment: the server writes them there.
        layout_->data = segment.info.shmaddr + static_cast<size_t>(band.first) * bytesPerLine;
        layout_->obdata = reinterpret_cast<char*>(&segment.info);
        layout_->height = band.second - band.first;
        ok = XShmGetImage(display_, root_, layout_, 0, band.first, AllPlanes) && !Failed();
        if (!ok) break;
    }
    layout_->data = nullptr;
    layout_->obdata = nullptr;
    layout_->height = height_;
    return ok;
}

bool Connection::GrabScreen(Pixels* pixels) {
    if (damage_ == 0) return false;
    PixelFormat format;
    size_t bytesPerLine = 0;
    if (!ScreenLayout(&format, &bytesPerLine)) return false;
    const uint64_t need = uint64_t{bytesPerLine} * static_cast<uint64_t>(height_);
    std::unique_ptr<Segment> segment;
    {
        std::lock_guard<std::mutex> lock(segments_->mutex);
        if (segments_->screenLeased) return false;
        segment.swap(segments_->screen);
    }
    if (segment && (segment->generation != generation_ || segment->bytes != need)) {
        Detach(*segment);
        segment.reset();
        std::lock_guard<std::mutex> lock(segments_->mutex);
        --segments_->live;
    }
    if (!segment) segment = Attach(static_cast<size_t>(need));
    if (!segment) return false;

    // The rows that changed since the last read; the whole screen for a copy that is not
    // current, or that missed damage another reader took.
    bool stale = false;
    {
        std::lock_guard<std::mutex> lock(segments_->mutex);
        stale = segments_->screenStale;
    }
    Bands bands = TakeDamage();
    {
        std::lock_guard<std::mutex> lock(segments_->mutex);
        segments_->screenStale = false;
    }
    if (stale) segment->current = false;
    if (!segment->current) bands.assign(1, {0, height_});
    const bool ok = ReadBands(*segment, bands, bytesPerLine);
    segment->current = ok;

    // The copy comes back when its pixels are no longer read.
    std::shared_ptr<Segments> pool = segments_;
    {
        std::lock_guard<std::mutex> lock(pool->mutex);
        ++pool->leased;
        pool->screenLeased = true;
    }
    std::shared_ptr<Segment> lease(segment.release(), [pool](Segment* s) {
        std::lock_guard<std::mutex> lock(pool->mutex);
        --pool->leased;
        pool->screenLeased = false;
        if (pool->screen) pool->kept.push_back(std::move(pool->screen));
        pool->screen.reset(s);
    });
    if (!ok) return false;
    const auto* data = reinterpret_cast<const uint8_t*>(lease->info.shmaddr);
    return Adopt(format, data, bytesPerLine, width_, height_, std::move(lease), pixels);
}

bool Connection::LendScreen(ScreenImage* image) {
    if (Get() == nullptr || !UsingSharedMemory() || damage_ == 0) return false;
    PixelFormat format;
    size_t bytesPerLine = 0;
    if (!ScreenLayout(&format, &bytesPerLine) || format.bitsPerPixel != 32 || !IsDirect(format))
        return false;
    const size_t need = bytesPerLine * static_cast<size_t>(height_);

    // Copies of an earlier connection or screen size go (those still held once let go).
    for (auto it = copies_.begin(); it != copies_.end();) {
        Segment& segment = *(*it)->segment;
        if (segment.generation == generation_ && segment.bytes == need) {
            ++it;
            continue;
        }
        if ((*it)->lent.load() == 0) {
            Detach(segment);
            segment.info.shmaddr = nullptr;
        }
        if (*it == latest_) latest_.reset();
        it = copies_.erase(it);
    }

    const Bands damage = TakeDamage();
    const XFixesCursorImage* cursor = CurrentCursor();
    const CursorPlace place = PlaceOf(cursor);
    std::shared_ptr<ScreenCopy> copy;
    bool changed = true;
    if (latest_ && latest_->stale.empty() && latest_->cursor == place) {
        // Nothing changed: the same rows again, read by as many as hold them.
        copy = latest_;
        changed = false;
    } else if (latest_ && latest_->lent.load(std::memory_order_acquire) == 0) {
        copy = latest_;
    } else {
        // The free copy with the fewest rows to read, or a new one.
        size_t fewest = SIZE_MAX;
        for (const auto& c : copies_) {
            if (c->lent.load(std::memory_order_acquire) != 0) continue;
            size_t rows = static_cast<size_t>(c->cursorRows.second - c->cursorRows.first);
            for (const auto& band : c->stale) rows += static_cast<size_t>(band.second - band.first);
            if (rows < fewest) {
                fewest = rows;
                copy = c;
            }
        }
        if (!copy && copies_.size() < kScreenCopies) {
            std::unique_ptr<Segment> segment = Attach(need);
            if (!segment) return false;
            copy = std::make_shared<ScreenCopy>();
            copy->pool = segments_;
            copy->segment = std::move(segment);
            copy->stale.assign(1, {0, height_});
            copies_.push_back(copy);
        }
        if (!copy) return false;
    }
    if (changed) {
        // The rows under the cursor drawn last are the server's again, then the cursor goes
        // where it is now.
        Bands rows = copy->stale;
        if (copy->cursorRows.first < copy->cursorRows.second) {
            rows.push_back(copy->cursorRows);
            MergeBands(rows);
        }
        copy->cursorRows = {0, 0};
        copy->cursor = CursorPlace{};
        if (!ReadBands(*copy->segment, rows, bytesPerLine)) {
            copy->stale.assign(1, {0, height_});
            if (copy == latest_) latest_.reset();
            return false;
        }
        copy->stale.clear();
        if (place.shown) copy->cursorRows = DrawCursor(*copy->segment, bytesPerLine, *cursor);
        copy->cursor = place;
        latest_ = copy;
    }

    copy->lent.fetch_add(1);
    image->data = reinterpret_cast<const uint8_t*>(copy->segment->info.shmaddr);
    image->stride = bytesPerLine;
    image->width = width_;
    image->height = height_;
    image->changed = changed;
    image->keep = std::shared_ptr<const void>(
        image->data, [copy](const void*) { copy->lent.fetch_sub(1, std::memory_order_release); });
    return true;
}

Connection::CursorImage Connection::ReadCursor() {
    if (Get() == nullptr || !cursorImages) return nullptr;
    ClearError();
    CursorImage cursor(XFixesGetCursorImage(display_));
    if (Failed()) cursor.reset();
    return cursor;
}

const XFixesCursorImage* Connection::CurrentCursor() {
    if (Get() == nullptr || !cursorImages) return nullptr;
    // Where the pointer is, asked first: a shape changed before this reply has its event
    // queued ahead of it, so the events below are all those that concern this frame.
    Window root = 0, child = 0;
    int x = 0, y = 0, windowX = 0, windowY = 0;
    unsigned int buttons = 0;
    ClearError();
    const bool placed =
        XQueryPointer(display_, root_, &root, &child, &x, &y, &windowX, &windowY, &buttons) &&
        !Failed();
    bool reshaped = !cursor_;
    XEvent event;
    while (XCheckTypedEvent(display_, fixesEvent_ + XFixesCursorNotify, &event)) reshaped = true;
    if (reshaped) {
        cursor_ = ReadCursor();
    } else if (placed) {
        cursor_->x = static_cast<short>(x);
        cursor_->y = static_cast<short>(y);
    }
    return cursor_.get();
}

std::pair<int, int> Connection::DrawCursor(Segment& segment, size_t bytesPerLine,
                                           const XFixesCursorImage& cursor) {
    const CursorPlace place = PlaceOf(&cursor);
    const long left = std::max(0L, place.left);
    const long right = std::min(long{width_}, place.left + long{cursor.width});
    const long top = std::max(0L, place.top);
    const long bottom = std::min(long{height_}, place.top + long{cursor.height});
    if (left >= right || top >= bottom) return {0, 0};
    for (long y = top; y < bottom; ++y) {
        auto* row = reinterpret_cast<uint32_t*>(segment.info.shmaddr +
                                                static_cast<size_t>(y) * bytesPerLine);
        // Xlib hands the 32-bit colours over in longs.
        const unsigned long* from =
            cursor.pixels + static_cast<size_t>(y - place.top) * cursor.width;
        for (long x = left; x < right; ++x)
            row[x] = display::BlendOver(static_cast<uint32_t>(from[x - place.left]), row[x]);
    }
    return {static_cast<int>(top), static_cast<int>(bottom)};
}

bool Connection::GrabPlain(int x, int y, int w, int h, Pixels* pixels) {
    ClearError();
    XImage* image = XGetImage(display_, root_, x, y, static_cast<unsigned>(w),
                              static_cast<unsigned>(h), AllPlanes, ZPixmap);
    if (image == nullptr) return false;
    std::shared_ptr<XImage> held(image, [](XImage* i) { XDestroyImage(i); });
    if (Failed()) return false;
    PixelFormat format = FormatOfImage(*image);
    size_t bytesPerLine = static_cast<size_t>(image->bytes_per_line);
    const auto* data = reinterpret_cast<const uint8_t*>(image->data);
    return Adopt(format, data, bytesPerLine, w, h, std::move(held), pixels);
}

}  // namespace x11
}  // namespace host
}  // namespace VornWorld
