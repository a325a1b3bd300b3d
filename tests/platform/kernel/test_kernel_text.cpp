// Text conversion of the platform layer: Windows-1252 as the ANSI code page, and UTF-8.
#include <gtest/gtest.h>

#include <string>

#include "vorn/control/faults.h"
#include "vornplatform.h"

namespace {

// Narrow text of a conversion from wide text (whole string, terminator included), or
// "<fail N>" with the error.
std::string ToNarrow(UINT page, const std::wstring& wide, BOOL* used = nullptr,
                     const char* defaultChar = nullptr) {
    const int size = WideCharToMultiByte(page, 0, wide.c_str(), -1, nullptr, 0, defaultChar, used);
    if (size == 0) return "<fail " + std::to_string(GetLastError()) + ">";
    std::string out(static_cast<std::size_t>(size), 'x');
    EXPECT_EQ(WideCharToMultiByte(page, 0, wide.c_str(), -1, &out[0], size, defaultChar, used),
              size);
    EXPECT_EQ(out.back(), '\0');
    out.pop_back();
    return out;
}

std::wstring ToWide(UINT page, const std::string& narrow, DWORD flags = 0) {
    const int size = MultiByteToWideChar(page, flags, narrow.data(),
                                         static_cast<int>(narrow.size()), nullptr, 0);
    if (size == 0) return L"<fail " + std::to_wstring(GetLastError()) + L">";
    std::wstring out(static_cast<std::size_t>(size), L'x');
    EXPECT_EQ(MultiByteToWideChar(page, flags, narrow.data(), static_cast<int>(narrow.size()),
                                  &out[0], size),
              size);
    return out;
}

struct Pair {
    std::wstring wide;
    std::string narrow;
};

TEST(KernelText, AnsiCodePageIsWindows1252BothWays) {
    EXPECT_EQ(GetACP(), 1252u);
    const Pair pairs[] = {{L"Desktop", "Desktop"},
                          {L"caf\u00E9 \u00FF", "caf\xE9 \xFF"},
                          {L"\u20AC\u201A\u0178\u2122", "\x80\x82\x9F\x99"},
                          {L"\u0081\u008D\u008F\u0090\u009D", "\x81\x8D\x8F\x90\x9D"}};
    for (const Pair& p : pairs) {
        SCOPED_TRACE(p.narrow);
        BOOL used = TRUE;
        EXPECT_EQ(ToNarrow(CP_ACP, p.wide, &used), p.narrow);
        EXPECT_FALSE(used);
        EXPECT_EQ(ToWide(CP_ACP, p.narrow), p.wide);
    }
}

TEST(KernelText, UnrepresentableCharactersBecomeTheDefault) {
    BOOL used = FALSE;
    EXPECT_EQ(ToNarrow(CP_ACP, L"\u0100x\u4E2D\U0001F600", &used), "?x??");
    EXPECT_TRUE(used);
    EXPECT_EQ(ToNarrow(1252, L"a\u0100", &used, "*"), "a*");
    EXPECT_TRUE(used);
    EXPECT_EQ(ToNarrow(CP_ACP, std::wstring(1, static_cast<wchar_t>(0xD800)), &used), "?");
}

TEST(KernelText, Utf8BothWaysWithReplacementOfBadInput) {
    const Pair pairs[] = {{L"A\u00E9\u20AC\U0001F600", "A\xC3\xA9\xE2\x82\xAC\xF0\x9F\x98\x80"},
                          {L"", ""}};
    for (const Pair& p : pairs) {
        EXPECT_EQ(ToNarrow(CP_UTF8, p.wide), p.narrow);
        if (!p.narrow.empty()) {
            EXPECT_EQ(ToWide(CP_UTF8, p.narrow), p.wide);
        }
    }
    // A surrogate pair in wide text is one character.
    const std::wstring pair = {static_cast<wchar_t>(0xD83D), static_cast<wchar_t>(0xDE00)};
    EXPECT_EQ(ToNarrow(CP_UTF8, pair), "\xF0\x9F\x98\x80");
    // Malformed input: lone continuation, overlong form, encoded surrogate, cut sequence.
    const Pair bad[] = {{L"a\uFFFDb",
                         "a\x80"
                         "b"},
                        {L"\uFFFD\uFFFD", "\xC0\xAF"},
                        {L"\uFFFD\uFFFD\uFFFD", "\xED\xA0\x80"},
                        {L"x\uFFFD", "x\xE2\x82"}};
    for (const Pair& p : bad) {
        SCOPED_TRACE(p.narrow);
        EXPECT_EQ(ToWide(CP_UTF8, p.narrow), p.wide);
        EXPECT_EQ(ToWide(CP_UTF8, p.narrow, MB_ERR_INVALID_CHARS), L"<fail 1113>");
    }
}

TEST(KernelText, LengthsAndBuffersFollowTheConventions) {
    // -1 counts the terminator; an explicit length does not add one.
    EXPECT_EQ(WideCharToMultiByte(CP_ACP, 0, L"abc", -1, nullptr, 0, nullptr, nullptr), 4);
    EXPECT_EQ(WideCharToMultiByte(CP_ACP, 0, L"abc", 2, nullptr, 0, nullptr, nullptr), 2);
    EXPECT_EQ(MultiByteToWideChar(CP_UTF8, 0, "\xE2\x82\xAC", -1, nullptr, 0), 2);
    char small[3] = {'x', 'x', 'x'};
    SetLastError(0);
    EXPECT_EQ(WideCharToMultiByte(CP_UTF8, 0, L"\u20AC", 1, small, 2, nullptr, nullptr), 0);
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_INSUFFICIENT_BUFFER));
    EXPECT_EQ(small[2], 'x');
    wchar_t wide[2];
    EXPECT_EQ(MultiByteToWideChar(CP_ACP, 0, "abc", 3, wide, 2), 0);
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_INSUFFICIENT_BUFFER));

    struct Bad {
        UINT page;
        DWORD flags;
        const wchar_t* text;
        int length;
        int outSize;
        DWORD error;
    };
    const Bad bads[] = {{CP_ACP, 0, nullptr, -1, 0, ERROR_INVALID_PARAMETER},
                        {CP_ACP, 0, L"a", 0, 0, ERROR_INVALID_PARAMETER},
                        {CP_ACP, 0, L"a", -2, 0, ERROR_INVALID_PARAMETER},
                        {CP_ACP, 0, L"a", 1, -1, ERROR_INVALID_PARAMETER},
                        {CP_ACP, 0, L"a", 1, 4, ERROR_INVALID_PARAMETER},  // null buffer
                        {437, 0, L"a", 1, 0, ERROR_INVALID_PARAMETER},
                        {CP_UTF8, WC_NO_BEST_FIT_CHARS, L"a", 1, 0, ERROR_INVALID_FLAGS},
                        {CP_ACP, WC_ERR_INVALID_CHARS, L"a", 1, 0, ERROR_INVALID_FLAGS}};
    for (const Bad& b : bads) {
        SetLastError(0);
        EXPECT_EQ(WideCharToMultiByte(b.page, b.flags, b.text, b.length, nullptr, b.outSize,
                                      nullptr, nullptr),
                  0);
        EXPECT_EQ(GetLastError(), b.error);
    }
    BOOL used = FALSE;
    EXPECT_EQ(WideCharToMultiByte(CP_UTF8, 0, L"a", 1, nullptr, 0, nullptr, &used), 0);
    EXPECT_EQ(ToNarrow(CP_UTF8, std::wstring(1, static_cast<wchar_t>(0xDC00))), "\xEF\xBF\xBD");
    EXPECT_EQ(WideCharToMultiByte(CP_UTF8, WC_ERR_INVALID_CHARS, L"\xDC00", 1, nullptr, 0, nullptr,
                                  nullptr),
              0);
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_NO_UNICODE_TRANSLATION));

    VornWorld::FailCall("MultiByteToWideChar");
    EXPECT_EQ(MultiByteToWideChar(CP_ACP, 0, "a", 1, nullptr, 0), 0);
    VornWorld::ClearFaults();
}

}  // namespace
