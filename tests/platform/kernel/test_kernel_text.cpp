// SPDX-License-Identifier: MIT
// Text conversion of the platform layer: Windows-1252 as the ANSI code page, and UTF-8.
#include <gtest/gtest.h>

#include <string>

#include "vornplatform.h"

namespace {

// The whole string converted (a size query, then the conversion, terminator dropped), or
// "<fail N>" with the error.
std::string ToNarrow(UINT page, const std::wstring& wide, BOOL* used = nullptr,
                     const char* defaultChar = nullptr) {
    const int size = WideCharToMultiByte(page, 0, wide.c_str(), -1, nullptr, 0, defaultChar, used);
    if (size == 0) return "<fail " + std::to_string(GetLastError()) + ">";
    std::string out(static_cast<std::size_t>(size), 'x');
    EXPECT_EQ(WideCharToMultiByte(page, 0, wide.c_str(), -1, &out[0], size, defaultChar, used),
              size);
    out.pop_back();
    return out;
}

std::wstring ToWide(UINT page, const std::string& narrow, DWORD flags = 0) {
    const int length = static_cast<int>(narrow.size());
    const int size = MultiByteToWideChar(page, flags, narrow.data(), length, nullptr, 0);
    if (size == 0) return L"<fail " + std::to_wstring(GetLastError()) + L">";
    std::wstring out(static_cast<std::size_t>(size), L'x');
    EXPECT_EQ(MultiByteToWideChar(page, flags, narrow.data(), length, &out[0], size), size);
    return out;
}

TEST(KernelText, AnsiCodePageIsWindows1252) {
    EXPECT_EQ(GetACP(), 1252u);
    struct Case {
        std::wstring wide;
        std::string narrow;
        bool lossy;
    };
    const Case cases[] = {{L"caf\u00E9 \u00FF", "caf\xE9 \xFF", false},
                          {L"\u20AC\u201A\u0178\u2122", "\x80\x82\x9F\x99", false},
                          {L"\u0081\u008D\u008F\u0090\u009D", "\x81\x8D\x8F\x90\x9D", false},
                          {L"\u0100x\u4E2D\U0001F600", "?x??", true},
                          {std::wstring(1, wchar_t(0xD800)), "?", true}};
    for (const Case& c : cases) {
        SCOPED_TRACE(c.narrow);
        BOOL used = !c.lossy;
        EXPECT_EQ(ToNarrow(CP_ACP, c.wide, &used), c.narrow);
        EXPECT_EQ(used, c.lossy ? TRUE : FALSE);
        if (!c.lossy) {
            EXPECT_EQ(ToWide(CP_ACP, c.narrow), c.wide);
        }
    }
    EXPECT_EQ(ToNarrow(1252, L"a\u0100", nullptr, "*"), "a*");
}

TEST(KernelText, Utf8BothWaysWithReplacementOfBadInput) {
    EXPECT_EQ(ToNarrow(CP_UTF8, L"A\u00E9\u20AC\U0001F600"),
              "A\xC3\xA9\xE2\x82\xAC\xF0\x9F\x98\x80");
    EXPECT_EQ(ToWide(CP_UTF8, "A\xC3\xA9\xE2\x82\xAC\xF0\x9F\x98\x80"), L"A\u00E9\u20AC\U0001F600");
    // A surrogate pair in wide text is one character; a lone surrogate is replaced.
    EXPECT_EQ(ToNarrow(CP_UTF8, {wchar_t(0xD83D), wchar_t(0xDE00)}), "\xF0\x9F\x98\x80");
    EXPECT_EQ(ToNarrow(CP_UTF8, {wchar_t(0xDC00)}), "\xEF\xBF\xBD");
    EXPECT_EQ(WideCharToMultiByte(CP_UTF8, WC_ERR_INVALID_CHARS, L"\xDC00", 1, nullptr, 0, nullptr,
                                  nullptr),
              0);
    // Lone continuation, overlong form, encoded surrogate, cut sequence.
    const std::pair<std::string, std::wstring> bad[] = {{"a\x80"
                                                         "b",
                                                         L"a\uFFFDb"},
                                                        {"\xC0\xAF", L"\uFFFD\uFFFD"},
                                                        {"\xED\xA0\x80", L"\uFFFD\uFFFD\uFFFD"},
                                                        {"x\xE2\x82", L"x\uFFFD"}};
    for (const auto& [narrow, wide] : bad) {
        EXPECT_EQ(ToWide(CP_UTF8, narrow), wide);
        EXPECT_EQ(ToWide(CP_UTF8, narrow, MB_ERR_INVALID_CHARS), L"<fail 1113>");
    }
}

TEST(KernelText, LengthsAndShortBuffers) {
    EXPECT_EQ(WideCharToMultiByte(CP_ACP, 0, L"abc", -1, nullptr, 0, nullptr, nullptr), 4);
    EXPECT_EQ(WideCharToMultiByte(CP_ACP, 0, L"abc", 2, nullptr, 0, nullptr, nullptr), 2);
    EXPECT_EQ(MultiByteToWideChar(CP_UTF8, 0, "\xE2\x82\xAC", -1, nullptr, 0), 2);
    char small[3] = {'x', 'x', 'x'};
    EXPECT_EQ(WideCharToMultiByte(CP_UTF8, 0, L"\u20AC", 1, small, 2, nullptr, nullptr), 0);
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_INSUFFICIENT_BUFFER));
    EXPECT_EQ(small[2], 'x');
    wchar_t wide[2];
    EXPECT_EQ(MultiByteToWideChar(CP_ACP, 0, "abc", 3, wide, 2), 0);
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_INSUFFICIENT_BUFFER));
}

}  // namespace
