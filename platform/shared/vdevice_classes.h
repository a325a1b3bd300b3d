// SPDX-License-Identifier: MIT
// The class identifiers of the registered virtual devices' filters (VornVirtualDevices.dll), in
// one place for the DLL, the Windows tests and the test command, which reads the camera's text
// from this file to check the registration. Windows builds only.
#pragma once

#include <windows.h>

// As the registry names them, under HKEY_CLASSES_ROOT\CLSID.
#define VORN_CAMERA_CLASS_TEXT "{6B0C8F61-3D4E-4A8B-9C1D-2E7F5A9B0C11}"
#define VORN_MICROPHONE_CLASS_TEXT "{6B0C8F62-3D4E-4A8B-9C1D-2E7F5A9B0C11}"
// The colour converter that lets YUV video reach RGB24 filters where the system lacks one.
#define VORN_CONVERTER_CLASS_TEXT "{6B0C8F63-3D4E-4A8B-9C1D-2E7F5A9B0C11}"

namespace VornDevices {

namespace detail {
constexpr unsigned HexDigit(char c) {
    return c >= '0' && c <= '9'   ? unsigned(c - '0')
           : c >= 'a' && c <= 'f' ? unsigned(c - 'a' + 10)
           : c >= 'A' && c <= 'F' ? unsigned(c - 'A' + 10)
                                  : throw "not a hexadecimal digit";
}
constexpr unsigned long Hex(const char* text, int digits) {
    unsigned long value = 0;
    for (int i = 0; i < digits; ++i) value = value * 16 + HexDigit(text[i]);
    return value;
}
}  // namespace detail

// "{XXXXXXXX-XXXX-XXXX-XXXX-XXXXXXXXXXXX}" to its GUID, at compile time.
constexpr GUID ClassFromText(const char (&text)[39]) {
    if (text[0] != '{' || text[9] != '-' || text[14] != '-' || text[19] != '-' || text[24] != '-' ||
        text[37] != '}')
        throw "not a class identifier";
    GUID id{};
    id.Data1 = detail::Hex(text + 1, 8);
    id.Data2 = static_cast<unsigned short>(detail::Hex(text + 10, 4));
    id.Data3 = static_cast<unsigned short>(detail::Hex(text + 15, 4));
    id.Data4[0] = static_cast<unsigned char>(detail::Hex(text + 20, 2));
    id.Data4[1] = static_cast<unsigned char>(detail::Hex(text + 22, 2));
    for (int i = 0; i < 6; ++i)
        id.Data4[2 + i] = static_cast<unsigned char>(detail::Hex(text + 25 + 2 * i, 2));
    return id;
}

constexpr CLSID kCameraClass = ClassFromText(VORN_CAMERA_CLASS_TEXT);
constexpr CLSID kMicrophoneClass = ClassFromText(VORN_MICROPHONE_CLASS_TEXT);
constexpr CLSID kConverterClass = ClassFromText(VORN_CONVERTER_CLASS_TEXT);

}  // namespace VornDevices
