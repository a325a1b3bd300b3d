// SPDX-License-Identifier: MIT
// One desktop frame call by call: the calls the desktop device makes for a frame (the same ones,
// in the same order), then what the capture tool adds (the conversion to I420 and the write),
// each timed over many frames of the whole screen. For comparison it also times a buffer of the
// frame's size allocated and zero-filled per frame, which neither the device nor the tool does.
//
//   grabprofile [FRAMES [OUTPUT]]     (default 100 frames, written to NUL)
#include <windows.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <new>
#include <vector>

#include "internal/convert/i420convert.h"
#include "internal/queued/screengrab.h"

namespace {

double Now() {
    static LARGE_INTEGER frequency = [] {
        LARGE_INTEGER f;
        QueryPerformanceFrequency(&f);
        return f;
    }();
    LARGE_INTEGER t;
    QueryPerformanceCounter(&t);
    return static_cast<double>(t.QuadPart) * 1000.0 / static_cast<double>(frequency.QuadPart);
}

enum Step {
    kCreateDc,
    kCreateBitmap,
    kSelectIn,
    kBitBlt,
    kCursor,
    kSelectOut,
    kGetDIBits,
    kDelete,
    kConvert,
    kWrite,
    kAllocZero,
    kSteps
};
const char* const kNames[kSteps] = {
    "CreateCompatibleDC",
    "CreateCompatibleBitmap",
    "SelectObject (bitmap in)",
    "BitBlt from the screen",
    "cursor: GetCursorInfo, GetIconInfo, DrawIconEx",
    "SelectObject (bitmap out)",
    "GetDIBits (24-bit read-back)",
    "DeleteObject, DeleteDC",
    "tool: conversion to I420",
    "tool: write of the I420 frame",
    "(not done) a frame buffer allocated and zero-filled",
};
const int kLastDeviceStep = kDelete;

}  // namespace

int main(int argc, char** argv) {
    const int frames = argc > 1 ? std::atoi(argv[1]) : 100;
    const char* output = argc > 2 ? argv[2] : "NUL";
    HDC screen = GetDC(nullptr);
    const int width = GetSystemMetrics(SM_CXSCREEN) & ~1;
    const int height = GetSystemMetrics(SM_CYSCREEN) & ~1;
    std::uint32_t i420Bytes = 0;
    if (screen == nullptr || frames <= 0 ||
        !TQZCapture::I420::OutputSize(static_cast<std::uint32_t>(width),
                                      static_cast<std::uint32_t>(height), &i420Bytes)) {
        std::fprintf(stderr, "grabprofile: no screen, or a bad frame count\n");
        return 1;
    }
    const std::size_t stride = (static_cast<std::size_t>(width) * 3 + 3) & ~std::size_t{3};
    const std::size_t dibBytes = stride * static_cast<std::size_t>(height);
    std::vector<unsigned char> dib(dibBytes), i420(i420Bytes);
    std::FILE* file = std::fopen(output, "wb");
    if (file == nullptr) {
        std::fprintf(stderr, "grabprofile: cannot write %s\n", output);
        return 1;
    }
    CURSORINFO shown;
    std::memset(&shown, 0, sizeof(shown));
    shown.cbSize = sizeof(shown);
    GetCursorInfo(&shown);

    double total[kSteps] = {};
    int failed = 0;
    for (int frame = 0; frame < frames; ++frame) {
        double t = Now();
        auto lap = [&](Step step) {
            const double now = Now();
            total[step] += now - t;
            t = now;
        };
        HDC memory = CreateCompatibleDC(screen);
        lap(kCreateDc);
        HBITMAP bitmap = CreateCompatibleBitmap(screen, width, height);
        lap(kCreateBitmap);
        HGDIOBJ previous = SelectObject(memory, bitmap);
        lap(kSelectIn);
        if (!BitBlt(memory, 0, 0, width, height, screen, 0, 0, SRCCOPY)) ++failed;
        lap(kBitBlt);
        CURSORINFO cursor;
        std::memset(&cursor, 0, sizeof(cursor));
        cursor.cbSize = sizeof(cursor);
        GetCursorInfo(&cursor);
        ICONINFO icon;
        std::memset(&icon, 0, sizeof(icon));
        if (GetIconInfo(cursor.hCursor, &icon)) {
            if (icon.hbmMask != nullptr) DeleteObject(icon.hbmMask);
            if (icon.hbmColor != nullptr) DeleteObject(icon.hbmColor);
        }
        DrawIconEx(memory, cursor.ptScreenPos.x, cursor.ptScreenPos.y, cursor.hCursor, 0, 0, 0,
                   nullptr, DI_NORMAL | DI_COMPAT);
        lap(kCursor);
        SelectObject(memory, previous);
        lap(kSelectOut);
        BITMAPINFO info;
        TQZCapture::internal::FillHeader(info, width, height, static_cast<unsigned long>(dibBytes));
        if (GetDIBits(memory, bitmap, 0, static_cast<UINT>(height), dib.data(), &info,
                      DIB_RGB_COLORS) == 0)
            ++failed;
        lap(kGetDIBits);
        DeleteObject(bitmap);
        DeleteDC(memory);
        lap(kDelete);
        const TQZCapture::I420::Image image{dib.data() + (height - 1) * stride, stride, true,
                                            TQZCapture::I420::Order::BlueFirst};
        TQZCapture::I420::Convert(image, static_cast<std::uint32_t>(width),
                                  static_cast<std::uint32_t>(height), i420.data());
        lap(kConvert);
        if (std::fwrite(i420.data(), 1, i420.size(), file) != i420.size()) ++failed;
        lap(kWrite);
        std::unique_ptr<unsigned char[]> zeroed(new (std::nothrow) unsigned char[dibBytes]());
        if (zeroed == nullptr) ++failed;
        zeroed.reset();
        lap(kAllocZero);
    }
    std::fclose(file);
    ReleaseDC(nullptr, screen);

    std::printf("%d x %d, %d frames; cursor: %s, handle %s\n", width, height, frames,
                (shown.flags & CURSOR_SHOWING) != 0 ? "showing" : "hidden",
                shown.hCursor == nullptr ? "null" : "set");
    double device = 0, tool = 0;
    for (int step = 0; step < kSteps; ++step) {
        const double ms = total[step] / frames;
        std::printf("%-52s %7.2f ms\n", kNames[step], ms);
        if (step <= kLastDeviceStep)
            device += ms;
        else if (step != kAllocZero)
            tool += ms;
    }
    std::printf("%-52s %7.2f ms\n%-52s %7.2f ms\n", "the device's calls", device,
                "the tool's conversion and write", tool);
    if (failed != 0) std::fprintf(stderr, "grabprofile: %d calls failed\n", failed);
    return failed == 0 ? 0 : 1;
}
