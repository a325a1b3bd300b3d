// SPDX-License-Identifier: MIT
#include "tqzdesktopdevice.h"

#include <cstring>
#include <limits>

#include "internal/queued/screendevice.h"
#include "internal/queued/screengrab.h"
#include "internal/queued/screenpacer.h"

namespace TQZCapture {

namespace {
const unsigned long kQueueBound = 100;
}

TQZDesktopDevice::TQZDesktopDevice(char* name)
    : WindowHandle(nullptr),
      CaptureRect{0, 0, 0, 0},
      Packets(kQueueBound),
      CallBack(nullptr),
      worker_(new internal::ScreenWorker(Packets)) {
    if (name != nullptr) {
        Name = name;
        Caption = name;
    }
}

TQZDesktopDevice::TQZDesktopDevice(const TQZDesktopDevice* source)
    : TQZDesktopDevice(static_cast<char*>(nullptr)) {
    if (source != nullptr) TQZDevice::operator=(*source);
}

TQZDesktopDevice::TQZDesktopDevice(const TQZDesktopDevice& other)
    : TQZVideoDevice(other),
      TQZThread(),
      WindowHandle(other.WindowHandle),
      CaptureRect(other.CaptureRect),
      Packets(other.Packets),
      CallBack(other.CallBack),
      worker_(new internal::ScreenWorker(Packets)) {}

TQZDesktopDevice& TQZDesktopDevice::operator=(const TQZDesktopDevice& other) {
    if (this != &other) {
        TQZVideoDevice::operator=(other);
        WindowHandle = other.WindowHandle;
        CaptureRect = other.CaptureRect;
        Packets = other.Packets;
        CallBack = other.CallBack;
    }
    return *this;
}

TQZDesktopDevice::~TQZDesktopDevice() {
    Close();
    delete worker_;
}

bool TQZDesktopDevice::Open() {
    SetFCPRect();
    return Start();
}

bool TQZDesktopDevice::Close() { return Stop(); }

bool TQZDesktopDevice::Pause() {
    return internal::TogglePause(static_cast<TQZThread&>(*this), worker_->pacer);
}

TQZPacket* TQZDesktopDevice::Query() { return Packets.Query(); }

TQZPacket* TQZDesktopDevice::Get() { return Packets.Get(); }

void TQZDesktopDevice::OnOpenBefore(void* callback) { CallBack = callback; }

void TQZDesktopDevice::OnCloseAFter() { CallBack = nullptr; }

void TQZDesktopDevice::FrameHandler(double timestamp, unsigned char* data, long length) {
    internal::QueueFrame(*worker_, Packets, *this, timestamp, data, length);
}

bool TQZDesktopDevice::Run() {
    worker_->Run([this] { return Finished(); },
                 [this] {
                     RECT area = internal::LoadRect(CaptureRect);
                     CaptureDesktopTransalteRGB24(&area);
                 },
                 &FrameRate);
    return true;
}

void TQZDesktopDevice::SetFCPRect() {
    internal::StoreRect(CaptureRect, 0, 0, static_cast<LONG>(Width), static_cast<LONG>(Height));
}

// One frame of a screen rectangle, with the cursor, as Width x Height packed rows.
void TQZDesktopDevice::CaptureDesktopTransalteRGB24(RECT* area) {
    if (area == nullptr) return;
    // A rectangle wider or taller than a LONG can count (INT_MIN to INT_MAX) gives no frame.
    const long long width = static_cast<long long>(area->right) - area->left;
    const long long height = static_cast<long long>(area->bottom) - area->top;
    const long long largest = std::numeric_limits<LONG>::max();
    if (width <= 0 || height <= 0 || width > largest || height > largest) return;
    HDC screen = CreateDCA("DISPLAY", nullptr, nullptr, nullptr);
    if (screen == nullptr) return;

    internal::GrabRequest request;
    request.source = screen;
    request.x = area->left;
    request.y = area->top;
    request.width = static_cast<LONG>(width);
    request.height = static_cast<LONG>(height);
    request.drawCursor = true;
    request.originX = area->left;
    request.originY = area->top;
    request.cursorBounds = RECT{0, 0, request.width, request.height};
    // The open loop's region is (0, 0, Width, Height); a derived class's own region gives
    // frames of the region's size.
    request.imageWidth = request.width;
    request.imageHeight = request.height;
    request.store = worker_->StoreForCaller();
    internal::GrabFrame(request, [this](unsigned char* data, long length) {
        FrameHandler(internal::FrameTime(), data, length);
    });
    DeleteDC(screen);
}

// One frame of a window (the desktop window for null), without the cursor, at the size of the
// window or its client area clipped to the screen, copied from the window's top-left corner.
void TQZDesktopDevice::CaptureWindowTransalteRGB24(HWND window, bool clientOnly) {
    if (window == nullptr) window = GetDesktopWindow();
    RECT rect{0, 0, 0, 0};
    if (clientOnly) {
        if (!GetClientRect(window, &rect)) return;
    } else if (!GetWindowRect(window, &rect)) {
        return;
    }
    HDC screenInfo = GetDC(window);
    if (screenInfo == nullptr) return;
    const LONG screenWidth = GetDeviceCaps(screenInfo, HORZRES);
    const LONG screenHeight = GetDeviceCaps(screenInfo, VERTRES);
    ReleaseDC(window, screenInfo);
    if (rect.left < 0) rect.left = 0;
    if (rect.top < 0) rect.top = 0;
    if (rect.right > screenWidth) rect.right = screenWidth;
    if (rect.bottom > screenHeight) rect.bottom = screenHeight;

    HDC source = GetWindowDC(window);
    if (source == nullptr) {
        internal::ReportNullHandle("hSrcDC");
        return;
    }
    internal::GrabRequest request;
    request.source = source;
    request.width = rect.right - rect.left;
    request.height = rect.bottom - rect.top;
    request.imageFromBitmap = true;
    request.readThroughMemory = true;
    request.reportNullHandles = true;
    request.store = worker_->StoreForCaller();
    internal::GrabFrame(request, [this](unsigned char* data, long length) {
        FrameHandler(internal::FrameTime(), data, length);
    });
    ReleaseDC(window, source);
}

}  // namespace TQZCapture
