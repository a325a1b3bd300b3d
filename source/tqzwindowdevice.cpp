// SPDX-License-Identifier: MIT
#include "tqzwindowdevice.h"

#include "internal/queued/screendevice.h"
#include "internal/queued/screengrab.h"
#include "internal/queued/screenpacer.h"

namespace TQZCapture {

namespace {
const unsigned long kQueueBound = 100;

LONG RoundDownTo4(LONG value) { return value / 4 * 4; }
}  // namespace

TQZWindowDevice::TQZWindowDevice()
    : WindowHandle(nullptr),
      CaptureRect{0, 0, 0, 0},
      Packets(kQueueBound),
      worker_(new internal::ScreenWorker(Packets)) {}

TQZWindowDevice::TQZWindowDevice(const TQZWindowDevice* source) : TQZWindowDevice() {
    if (source != nullptr) {
        TQZDevice::operator=(*source);
        WindowHandle = source->WindowHandle;
    }
}

TQZWindowDevice::TQZWindowDevice(const TQZWindowDevice& other)
    : TQZVideoDevice(other),
      TQZThread(),
      WindowHandle(other.WindowHandle),
      CaptureRect(other.CaptureRect),
      Packets(other.Packets),
      worker_(new internal::ScreenWorker(Packets)) {}

TQZWindowDevice& TQZWindowDevice::operator=(const TQZWindowDevice& other) {
    if (this != &other) {
        TQZVideoDevice::operator=(other);
        WindowHandle = other.WindowHandle;
        CaptureRect = other.CaptureRect;
        Packets = other.Packets;
    }
    return *this;
}

TQZWindowDevice::~TQZWindowDevice() {
    Close();
    delete worker_;
}

bool TQZWindowDevice::Open() {
    ResetCaptureArea();
    return Start();
}

bool TQZWindowDevice::Close() { return Stop(); }

bool TQZWindowDevice::Pause() {
    return internal::TogglePause(static_cast<TQZThread&>(*this), worker_->pacer);
}

TQZPacket* TQZWindowDevice::Query() { return Packets.Query(); }

TQZPacket* TQZWindowDevice::Get() { return Packets.Get(); }

void TQZWindowDevice::FrameHandler(double timestamp, unsigned char* data, long length) {
    internal::QueueFrame(*worker_, Packets, *this, timestamp, data, length);
}

bool TQZWindowDevice::Run() {
    worker_->Run([this] { return Finished(); },
                 [this] { CaptureWindowTransalteRGB24(WindowHandle, true); }, &FrameRate);
    return true;
}

void TQZWindowDevice::ResetCaptureArea() {
    if (WindowHandle == nullptr) return;
    GetClientRect(WindowHandle, &CaptureRect);
    Width = static_cast<unsigned int>(CaptureRect.right - CaptureRect.left) & ~3u;
    Height = static_cast<unsigned int>(CaptureRect.bottom - CaptureRect.top) & ~3u;
}

// One frame of the window: a client-sized region (rounded down to multiples of 4) from the
// window's top-left corner, with the cursor. The flag makes no difference: the client size is
// always used.
void TQZWindowDevice::CaptureWindowTransalteRGB24(HWND window, bool) {
    if (window == nullptr) return;
    RECT rect{0, 0, 0, 0};
    GetClientRect(window, &rect);
    RECT outer{0, 0, 0, 0};
    GetWindowRect(window, &outer);
    HDC source = GetWindowDC(window);
    if (source == nullptr) return;

    internal::GrabRequest request;
    request.source = source;
    request.x = rect.left;
    request.y = rect.top;
    request.width = RoundDownTo4(rect.right - rect.left);
    request.height = RoundDownTo4(rect.bottom - rect.top);
    // The cursor is placed in window coordinates: its screen position less the window's
    // top-left corner, which is where the copied region starts.
    request.drawCursor = true;
    request.originX = outer.left + rect.left;
    request.originY = outer.top + rect.top;
    request.cursorBounds = RECT{0, 0, rect.right, rect.bottom};
    request.imageWidth = request.width;
    request.imageHeight = request.height;
    request.readThroughMemory = true;
    request.store = worker_->StoreForCaller();
    internal::GrabFrame(request, [this](unsigned char* data, long length) {
        FrameHandler(internal::FrameTime(), data, length);
    });
    ReleaseDC(window, source);
}

// One frame of a screen rectangle clipped to the screen, without the cursor, with rows padded
// to 4 bytes.
void TQZWindowDevice::CaptureDesktopTransalteRGB24(RECT* area) {
    if (area == nullptr || IsRectEmpty(area)) return;
    HDC screen = CreateDCA("DISPLAY", nullptr, nullptr, nullptr);
    if (screen == nullptr) return;
    RECT clipped = *area;
    const LONG screenWidth = GetDeviceCaps(screen, HORZRES);
    const LONG screenHeight = GetDeviceCaps(screen, VERTRES);
    if (clipped.left < 0) clipped.left = 0;
    if (clipped.top < 0) clipped.top = 0;
    if (clipped.right > screenWidth) clipped.right = screenWidth;
    if (clipped.bottom > screenHeight) clipped.bottom = screenHeight;

    internal::GrabRequest request;
    request.source = screen;
    request.x = clipped.left;
    request.y = clipped.top;
    request.width = clipped.right - clipped.left;
    request.height = clipped.bottom - clipped.top;
    request.imageFromBitmap = true;
    request.store = worker_->StoreForCaller();
    internal::GrabFrame(request, [this](unsigned char* data, long length) {
        FrameHandler(internal::FrameTime(), data, length);
    });
    DeleteDC(screen);
}

}  // namespace TQZCapture
