// SPDX-License-Identifier: MIT
// Text conversion between wide strings and 8-bit code pages. The ANSI code page is
// Windows-1252; UTF-8 is the other code page offered. Wide strings hold one wchar_t per code
// point here (wchar_t has 32 bits); UTF-16 surrogate pairs in them are read as one character.
#include <climits>
#include <cstdint>
#include <cstring>
#include <cwchar>

#include "vorn/win/kernel.h"
#include "world/faults.h"

namespace {

constexpr UINT kWindows1252 = 1252;
constexpr char32_t kReplacement = 0xFFFD;
constexpr char32_t kInvalid = 0xFFFFFFFF;

// Windows-1252 bytes 0x80-0x9F; the five bytes it leaves undefined map to the C1 controls of
// the same value, as Windows maps them.
constexpr char16_t kHighControls[32] = {
    0x20AC, 0x0081, 0x201A, 0x0192, 0x201E, 0x2026, 0x2020, 0x2021, 0x02C6, 0x2030, 0x0160,
    0x2039, 0x0152, 0x008D, 0x017D, 0x008F, 0x0090, 0x2018, 0x2019, 0x201C, 0x201D, 0x2022,
    0x2013, 0x2014, 0x02DC, 0x2122, 0x0161, 0x203A, 0x0153, 0x009D, 0x017E, 0x0178};

enum class Page { k1252, kUtf8, kUnknown };

Page PageOf(UINT codePage) {
    switch (codePage) {
        case CP_ACP:
        case CP_THREAD_ACP:
        case kWindows1252:
            return Page::k1252;
        case CP_UTF8:
            return Page::kUtf8;
        default:
            return Page::kUnknown;
    }
}

char32_t From1252(unsigned char byte) {
    if (byte >= 0x80 && byte < 0xA0) return kHighControls[byte - 0x80];
    return byte;
}

// The Windows-1252 byte of `c`, or -1 when the code page has none.
int To1252(char32_t c) {
    if (c < 0x80 || (c >= 0xA0 && c <= 0xFF)) return static_cast<int>(c);
    for (int i = 0; i < 32; ++i) {
        if (kHighControls[i] == c) return 0x80 + i;
    }
    return -1;
}

bool IsSurrogate(char32_t c) { return c >= 0xD800 && c <= 0xDFFF; }

// Collects output up to a capacity and counts all of it, so one pass serves both the size
// query and the conversion.
template <class Unit>
class Output {
public:
    Output(Unit* buffer, int capacity) : buffer_(buffer), capacity_(capacity) {}
    void Put(Unit unit) {
        if (count_ < capacity_) buffer_[count_] = unit;
        ++count_;
    }
    long long Count() const { return count_; }

private:
    Unit* buffer_;
    long long capacity_;
    long long count_ = 0;
};

// Reads one code point from a wide string; lone surrogates and values beyond Unicode come
// back as kInvalid.
char32_t NextWide(LPCWSTR text, int length, int& at) {
    char32_t c = static_cast<char32_t>(text[at++]);
    if (c >= 0xD800 && c <= 0xDBFF && at < length) {
        char32_t low = static_cast<char32_t>(text[at]);
        if (low >= 0xDC00 && low <= 0xDFFF) {
            ++at;
            return 0x10000 + ((c - 0xD800) << 10) + (low - 0xDC00);
        }
    }
    if (IsSurrogate(c) || c > 0x10FFFF) return kInvalid;
    return c;
}

// Reads one code point from UTF-8; a malformed sequence (its longest invalid start) comes
// back as kInvalid.
char32_t NextUtf8(LPCSTR text, int length, int& at) {
    const auto byte = [&](int i) { return static_cast<unsigned char>(text[i]); };
    const unsigned char lead = byte(at++);
    if (lead < 0x80) return lead;
    int extra;
    char32_t c;
    unsigned char low = 0x80, high = 0xBF;  // allowed range of the first continuation byte
    if (lead >= 0xC2 && lead <= 0xDF) {
        extra = 1;
        c = lead & 0x1F;
    } else if (lead >= 0xE0 && lead <= 0xEF) {
        extra = 2;
        c = lead & 0x0F;
        if (lead == 0xE0) low = 0xA0;   // no overlong forms
        if (lead == 0xED) high = 0x9F;  // no surrogates
    } else if (lead >= 0xF0 && lead <= 0xF4) {
        extra = 3;
        c = lead & 0x07;
        if (lead == 0xF0) low = 0x90;
        if (lead == 0xF4) high = 0x8F;  // nothing beyond U+10FFFF
    } else {
        return kInvalid;
    }
    for (int i = 0; i < extra; ++i) {
        if (at >= length) return kInvalid;
        const unsigned char next = byte(at);
        const unsigned char min = i == 0 ? low : 0x80;
        const unsigned char max = i == 0 ? high : 0xBF;
        if (next < min || next > max) return kInvalid;
        c = (c << 6) | (next & 0x3F);
        ++at;
    }
    return c;
}

void PutUtf8(Output<char>& out, char32_t c) {
    const auto put = [&](unsigned value) { out.Put(static_cast<char>(value)); };
    if (c < 0x80) {
        put(c);
    } else if (c < 0x800) {
        put(0xC0 | (c >> 6));
        put(0x80 | (c & 0x3F));
    } else if (c < 0x10000) {
        put(0xE0 | (c >> 12));
        put(0x80 | ((c >> 6) & 0x3F));
        put(0x80 | (c & 0x3F));
    } else {
        put(0xF0 | (c >> 18));
        put(0x80 | ((c >> 12) & 0x3F));
        put(0x80 | ((c >> 6) & 0x3F));
        put(0x80 | (c & 0x3F));
    }
}

void PutWide(Output<WCHAR>& out, char32_t c) {
    if (sizeof(WCHAR) == 2 && c >= 0x10000) {
        out.Put(static_cast<WCHAR>(0xD800 + ((c - 0x10000) >> 10)));
        out.Put(static_cast<WCHAR>(0xDC00 + ((c - 0x10000) & 0x3FF)));
    } else {
        out.Put(static_cast<WCHAR>(c));
    }
}

int Fail(DWORD error) {
    SetLastError(error);
    return 0;
}

// The result of a conversion: the count, or a failure when it does not fit.
template <class Unit>
int Finish(const Output<Unit>& out, int capacity) {
    if (out.Count() > INT_MAX) return Fail(ERROR_INVALID_PARAMETER);
    if (capacity != 0 && out.Count() > capacity) return Fail(ERROR_INSUFFICIENT_BUFFER);
    return static_cast<int>(out.Count());
}

// Checks lengths and buffers as both conversions do; -1 as the input length means "up to
// and including the terminating zero". Returns false after setting the error.
template <class In, class Out>
bool CheckArguments(const In* input, int& inputLength, const Out* output, int outputSize,
                    std::size_t (*measure)(const In*)) {
    if (input == nullptr || inputLength == 0 || inputLength < -1 || outputSize < 0 ||
        (outputSize > 0 && output == nullptr)) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return false;
    }
    if (inputLength == -1) {
        const std::size_t length = measure(input) + 1;
        if (length > static_cast<std::size_t>(INT_MAX)) {
            SetLastError(ERROR_INVALID_PARAMETER);
            return false;
        }
        inputLength = static_cast<int>(length);
    }
    return true;
}

std::size_t NarrowLength(const char* text) { return std::strlen(text); }
std::size_t WideLength(const WCHAR* text) { return std::wcslen(text); }

}  // namespace

extern "C" {

UINT WINAPI GetACP(void) { return kWindows1252; }

int WINAPI WideCharToMultiByte(UINT codePage, DWORD flags, LPCWSTR wide, int wideLength,
                               LPSTR narrow, int narrowSize, LPCSTR defaultChar,
                               BOOL* usedDefault) {
    if (VornWorld::ShouldFail(VORN_FAULT("WideCharToMultiByte")))
        return Fail(ERROR_INVALID_PARAMETER);
    const Page page = PageOf(codePage);
    if (page == Page::kUnknown) return Fail(ERROR_INVALID_PARAMETER);
    // Flags a single-byte code page accepts: composite check, default char, discard
    // non-spacing, separate chars, no best fit.
    const DWORD allowed = page == Page::kUtf8 ? WC_ERR_INVALID_CHARS : 0x670u;
    if ((flags & ~allowed) != 0) return Fail(ERROR_INVALID_FLAGS);
    if (page == Page::kUtf8 && (defaultChar != nullptr || usedDefault != nullptr)) {
        return Fail(ERROR_INVALID_PARAMETER);
    }
    if (!CheckArguments(wide, wideLength, narrow, narrowSize, WideLength)) return 0;

    if (usedDefault != nullptr) *usedDefault = FALSE;
    const char fallback = defaultChar != nullptr ? defaultChar[0] : '?';
    Output<char> out(narrow, narrowSize);
    for (int at = 0; at < wideLength;) {
        const char32_t c = NextWide(wide, wideLength, at);
        if (page == Page::kUtf8) {
            if (c == kInvalid && (flags & WC_ERR_INVALID_CHARS) != 0) {
                return Fail(ERROR_NO_UNICODE_TRANSLATION);
            }
            PutUtf8(out, c == kInvalid ? kReplacement : c);
            continue;
        }
        const int byte = c == kInvalid ? -1 : To1252(c);
        if (byte >= 0) {
            out.Put(static_cast<char>(byte));
        } else {
            out.Put(fallback);
            if (usedDefault != nullptr) *usedDefault = TRUE;
        }
    }
    return Finish(out, narrowSize);
}

int WINAPI MultiByteToWideChar(UINT codePage, DWORD flags, LPCSTR narrow, int narrowLength,
                               LPWSTR wide, int wideSize) {
    if (VornWorld::ShouldFail(VORN_FAULT("MultiByteToWideChar")))
        return Fail(ERROR_INVALID_PARAMETER);
    const Page page = PageOf(codePage);
    if (page == Page::kUnknown) return Fail(ERROR_INVALID_PARAMETER);
    // A single-byte code page takes precomposed or composite (not both), glyph chars, and
    // the invalid-chars check.
    const DWORD allowed = page == Page::kUtf8 ? MB_ERR_INVALID_CHARS : 0x0Fu;
    if ((flags & ~allowed) != 0 || (flags & 0x3u) == 0x3u) return Fail(ERROR_INVALID_FLAGS);
    if (!CheckArguments(narrow, narrowLength, wide, wideSize, NarrowLength)) return 0;

    Output<WCHAR> out(wide, wideSize);
    for (int at = 0; at < narrowLength;) {
        if (page == Page::k1252) {
            PutWide(out, From1252(static_cast<unsigned char>(narrow[at++])));
            continue;
        }
        const char32_t c = NextUtf8(narrow, narrowLength, at);
        if (c == kInvalid && (flags & MB_ERR_INVALID_CHARS) != 0) {
            return Fail(ERROR_NO_UNICODE_TRANSLATION);
        }
        PutWide(out, c == kInvalid ? kReplacement : c);
    }
    return Finish(out, wideSize);
}

}  // extern "C"
