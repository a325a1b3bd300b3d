// SPDX-License-Identifier: MIT
// Window system (USER) and GDI services for non-Windows builds. Records follow the Windows
// layout, so a record's size differs between 32-bit and 64-bit builds as it does on Windows.
#pragma once

#include "vorn/win/wintypes.h"

VORN_DECLARE_HANDLE(HMENU);
typedef DWORD COLORREF;
typedef WORD ATOM;
typedef LRESULT(CALLBACK* WNDPROC)(HWND, UINT, WPARAM, LPARAM);
// Only ever passed as a null pointer here; the record itself is not needed.
struct _devicemodeA;
typedef struct _devicemodeA DEVMODEA;

#define RGB(r, g, b) \
    ((COLORREF)(((BYTE)(r) | ((WORD)((BYTE)(g)) << 8)) | (((DWORD)(BYTE)(b)) << 16)))
#define GetRValue(rgb) ((BYTE)(rgb))
#define GetGValue(rgb) ((BYTE)(((WORD)(rgb)) >> 8))
#define GetBValue(rgb) ((BYTE)((rgb) >> 16))
#define CLR_INVALID 0xFFFFFFFF

// Raster operations.
#define SRCCOPY (DWORD)0x00CC0020
#define BLACKNESS (DWORD)0x00000042
#define WHITENESS (DWORD)0x00FF0062
#define CAPTUREBLT (DWORD)0x40000000

// GetDeviceCaps indices and answers.
#define DRIVERVERSION 0
#define TECHNOLOGY 2
#define HORZSIZE 4
#define VERTSIZE 6
#define HORZRES 8
#define VERTRES 10
#define BITSPIXEL 12
#define PLANES 14
#define NUMCOLORS 24
#define RASTERCAPS 38
#define LOGPIXELSX 88
#define LOGPIXELSY 90
#define SIZEPALETTE 104
#define COLORRES 108
#define VREFRESH 116
#define DESKTOPVERTRES 117
#define DESKTOPHORZRES 118
#define DT_RASDISPLAY 1
#define RC_BITBLT 1
#define RC_BITMAP64 8
#define RC_DI_BITMAP 0x0080
#define RC_DIBTODEV 0x0200
#define RC_STRETCHBLT 0x0800
#define RC_STRETCHDIB 0x2000

// Device-independent bitmaps.
#define BI_RGB 0L
#define BI_BITFIELDS 3L
#define DIB_RGB_COLORS 0
#define DIB_PAL_COLORS 1

typedef struct tagBITMAP {
    LONG bmType;
    LONG bmWidth;
    LONG bmHeight;
    LONG bmWidthBytes;
    WORD bmPlanes;
    WORD bmBitsPixel;
    LPVOID bmBits;
} BITMAP, *PBITMAP, *LPBITMAP;

typedef struct tagBITMAPINFOHEADER {
    DWORD biSize;
    LONG biWidth;
    LONG biHeight;
    WORD biPlanes;
    WORD biBitCount;
    DWORD biCompression;
    DWORD biSizeImage;
    LONG biXPelsPerMeter;
    LONG biYPelsPerMeter;
    DWORD biClrUsed;
    DWORD biClrImportant;
} BITMAPINFOHEADER, *LPBITMAPINFOHEADER, *PBITMAPINFOHEADER;

typedef struct tagRGBQUAD {
    BYTE rgbBlue;
    BYTE rgbGreen;
    BYTE rgbRed;
    BYTE rgbReserved;
} RGBQUAD;

typedef struct tagBITMAPINFO {
    BITMAPINFOHEADER bmiHeader;
    RGBQUAD bmiColors[1];
} BITMAPINFO, *LPBITMAPINFO, *PBITMAPINFO;

// Cursors and icons.
#define DI_MASK 0x0001
#define DI_IMAGE 0x0002
#define DI_NORMAL 0x0003
#define DI_COMPAT 0x0004
#define DI_DEFAULTSIZE 0x0008
#define DI_NOMIRROR 0x0010
#define CURSOR_SHOWING 0x00000001

typedef struct tagCURSORINFO {
    DWORD cbSize;
    DWORD flags;
    HCURSOR hCursor;
    POINT ptScreenPos;
} CURSORINFO, *PCURSORINFO, *LPCURSORINFO;

typedef struct _ICONINFO {
    BOOL fIcon;
    DWORD xHotspot;
    DWORD yHotspot;
    HBITMAP hbmMask;
    HBITMAP hbmColor;
} ICONINFO, *PICONINFO;

// Windows.
#define GW_HWNDFIRST 0
#define GW_HWNDLAST 1
#define GW_HWNDNEXT 2
#define GW_HWNDPREV 3
#define GW_OWNER 4
#define GW_CHILD 5

#define WS_OVERLAPPED 0x00000000L
#define WS_POPUP 0x80000000L
#define WS_VISIBLE 0x10000000L
#define WS_CAPTION 0x00C00000L
#define WS_BORDER 0x00800000L
#define WS_DLGFRAME 0x00400000L
#define WS_SYSMENU 0x00080000L
#define WS_THICKFRAME 0x00040000L
#define WS_MINIMIZEBOX 0x00020000L
#define WS_MAXIMIZEBOX 0x00010000L
#define WS_OVERLAPPEDWINDOW \
    (WS_OVERLAPPED | WS_CAPTION | WS_SYSMENU | WS_THICKFRAME | WS_MINIMIZEBOX | WS_MAXIMIZEBOX)
#define CW_USEDEFAULT ((int)0x80000000)

typedef struct tagWNDCLASSA {
    UINT style;
    WNDPROC lpfnWndProc;
    int cbClsExtra;
    int cbWndExtra;
    HINSTANCE hInstance;
    HICON hIcon;
    HCURSOR hCursor;
    HBRUSH hbrBackground;
    LPCSTR lpszMenuName;
    LPCSTR lpszClassName;
} WNDCLASSA, *PWNDCLASSA, *LPWNDCLASSA;

// Message boxes.
#define MB_OK 0x00000000L
#define MB_OKCANCEL 0x00000001L
#define MB_ABORTRETRYIGNORE 0x00000002L
#define MB_YESNOCANCEL 0x00000003L
#define MB_YESNO 0x00000004L
#define MB_RETRYCANCEL 0x00000005L
#define MB_CANCELTRYCONTINUE 0x00000006L
#define MB_ICONHAND 0x00000010L
#define MB_ICONQUESTION 0x00000020L
#define MB_ICONEXCLAMATION 0x00000030L
#define MB_ICONASTERISK 0x00000040L
#define MB_ICONWARNING MB_ICONEXCLAMATION
#define MB_ICONERROR MB_ICONHAND
#define MB_ICONINFORMATION MB_ICONASTERISK
#define MB_ICONSTOP MB_ICONHAND
#define MB_APPLMODAL 0x00000000L
#define MB_SYSTEMMODAL 0x00001000L
#define MB_TASKMODAL 0x00002000L
#define MB_TOPMOST 0x00040000L
#define MB_TYPEMASK 0x0000000FL
#define MB_ICONMASK 0x000000F0L
#define IDOK 1
#define IDCANCEL 2
#define IDABORT 3
#define IDRETRY 4
#define IDIGNORE 5
#define IDYES 6
#define IDNO 7
#define IDTRYAGAIN 10
#define IDCONTINUE 11

// Error codes these services leave for GetLastError.
#ifndef ERROR_ACCESS_DENIED
#define ERROR_ACCESS_DENIED 5L
#endif
#ifndef ERROR_INVALID_HANDLE
#define ERROR_INVALID_HANDLE 6L
#endif
#ifndef ERROR_NOT_ENOUGH_MEMORY
#define ERROR_NOT_ENOUGH_MEMORY 8L
#endif
#ifndef ERROR_INVALID_PARAMETER
#define ERROR_INVALID_PARAMETER 87L
#endif
#define ERROR_INVALID_WINDOW_HANDLE 1400L
#define ERROR_INVALID_CURSOR_HANDLE 1402L
#define ERROR_CANNOT_FIND_WND_CLASS 1407L
#define ERROR_CLASS_ALREADY_EXISTS 1410L
#define ERROR_CLASS_DOES_NOT_EXIST 1411L
#define ERROR_CLASS_HAS_WINDOWS 1412L

extern "C" {
// Device contexts.
VORN_PLATFORM_API HDC WINAPI CreateDCA(LPCSTR driver, LPCSTR device, LPCSTR port,
                                       const DEVMODEA* mode);
VORN_PLATFORM_API HDC WINAPI GetDC(HWND window);
VORN_PLATFORM_API HDC WINAPI GetWindowDC(HWND window);
VORN_PLATFORM_API int WINAPI ReleaseDC(HWND window, HDC dc);
VORN_PLATFORM_API BOOL WINAPI DeleteDC(HDC dc);
VORN_PLATFORM_API HDC WINAPI CreateCompatibleDC(HDC dc);
VORN_PLATFORM_API int WINAPI GetDeviceCaps(HDC dc, int index);

// Bitmaps.
VORN_PLATFORM_API HBITMAP WINAPI CreateCompatibleBitmap(HDC dc, int width, int height);
VORN_PLATFORM_API HGDIOBJ WINAPI SelectObject(HDC dc, HGDIOBJ object);
VORN_PLATFORM_API BOOL WINAPI DeleteObject(HGDIOBJ object);
VORN_PLATFORM_API int WINAPI GetObjectA(HANDLE object, int size, LPVOID buffer);
VORN_PLATFORM_API BOOL WINAPI BitBlt(HDC dc, int x, int y, int width, int height, HDC source,
                                     int sourceX, int sourceY, DWORD rop);
VORN_PLATFORM_API int WINAPI GetDIBits(HDC dc, HBITMAP bitmap, UINT start, UINT lines, LPVOID bits,
                                       LPBITMAPINFO info, UINT usage);
VORN_PLATFORM_API COLORREF WINAPI SetPixel(HDC dc, int x, int y, COLORREF color);
VORN_PLATFORM_API COLORREF WINAPI GetPixel(HDC dc, int x, int y);

// Cursor.
VORN_PLATFORM_API BOOL WINAPI GetCursorInfo(PCURSORINFO info);
VORN_PLATFORM_API BOOL WINAPI GetIconInfo(HICON icon, PICONINFO info);
VORN_PLATFORM_API BOOL WINAPI DrawIconEx(HDC dc, int x, int y, HICON icon, int width, int height,
                                         UINT step, HBRUSH flickerFreeBrush, UINT flags);

// Rectangles and windows.
VORN_PLATFORM_API BOOL WINAPI IsRectEmpty(const RECT* rect);
VORN_PLATFORM_API HWND WINAPI GetDesktopWindow(void);
VORN_PLATFORM_API HWND WINAPI GetTopWindow(HWND window);
VORN_PLATFORM_API HWND WINAPI GetWindow(HWND window, UINT command);
VORN_PLATFORM_API BOOL WINAPI IsWindow(HWND window);
VORN_PLATFORM_API BOOL WINAPI IsWindowVisible(HWND window);
VORN_PLATFORM_API int WINAPI GetWindowTextA(HWND window, LPSTR text, int maxCount);
VORN_PLATFORM_API int WINAPI GetWindowTextLengthA(HWND window);
VORN_PLATFORM_API BOOL WINAPI SetWindowTextA(HWND window, LPCSTR text);
VORN_PLATFORM_API DWORD WINAPI GetWindowThreadProcessId(HWND window, LPDWORD processId);
VORN_PLATFORM_API BOOL WINAPI GetWindowRect(HWND window, LPRECT rect);
VORN_PLATFORM_API BOOL WINAPI GetClientRect(HWND window, LPRECT rect);

// Window classes and windows of the calling program. No messages are sent: a window
// procedure is stored but never called.
VORN_PLATFORM_API ATOM WINAPI RegisterClassA(const WNDCLASSA* windowClass);
VORN_PLATFORM_API BOOL WINAPI UnregisterClassA(LPCSTR className, HINSTANCE instance);
VORN_PLATFORM_API HWND WINAPI CreateWindowExA(DWORD exStyle, LPCSTR className, LPCSTR title,
                                              DWORD style, int x, int y, int width, int height,
                                              HWND parent, HMENU menu, HINSTANCE instance,
                                              LPVOID parameter);
VORN_PLATFORM_API BOOL WINAPI DestroyWindow(HWND window);
VORN_PLATFORM_API LRESULT WINAPI DefWindowProcA(HWND window, UINT message, WPARAM wParam,
                                                LPARAM lParam);

// Message box: never blocks, see the display control API.
VORN_PLATFORM_API int WINAPI MessageBoxA(HWND owner, LPCSTR text, LPCSTR caption, UINT type);
}
