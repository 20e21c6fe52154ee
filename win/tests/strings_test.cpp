#include "win/strings.hpp"

#include <gtest/gtest.h>

#include <system_error>

namespace {
using namespace wembra;

TEST(conversion, empty_input_returns_zero_and_keeps_the_destination)
{
    std::wstring wide = L"keep";
    EXPECT_EQ(multibyte_to_wide(CP_UTF8, 0, std::string(), wide), 0);
    EXPECT_EQ(wide, L"keep");
    std::string narrow = "keep";
    EXPECT_EQ(wide_to_multibyte(CP_UTF8, 0, std::wstring(), narrow), 0);
    EXPECT_EQ(narrow, "keep");
}

TEST(conversion, terminated_input_drops_the_terminator)
{
    std::wstring wide;
    EXPECT_EQ(multibyte_to_wide(CP_UTF8, 0, "abc", -1, wide), 4);
    EXPECT_EQ(wide, L"abc");
    std::string narrow;
    EXPECT_EQ(wide_to_multibyte(CP_UTF8, 0, L"abc", -1, narrow), 4);
    EXPECT_EQ(narrow, "abc");
}

TEST(conversion, counted_input_is_cut_at_its_first_zero)
{
    std::wstring wide;
    multibyte_to_wide(CP_UTF8, 0, "ab\0cd", 5, wide);
    EXPECT_EQ(wide, L"ab");
    std::string narrow;
    wide_to_multibyte(CP_UTF8, 0, L"xy\0z", 4, narrow);
    EXPECT_EQ(narrow, "xy");
}

TEST(conversion, long_texts_take_the_second_pass)
{
    std::string utf8;
    std::wstring expected;
    for (int i = 0; i < 700; ++i) {
        utf8 += "\xC5\xA1";  // š
        expected += L'\x0161';
    }
    std::wstring wide;
    EXPECT_EQ(multibyte_to_wide(CP_UTF8, 0, utf8, wide), 700);
    EXPECT_EQ(wide, expected);
    std::string back;
    EXPECT_EQ(wide_to_multibyte(CP_UTF8, 0, wide, back), 1400);  // beyond the 1024-byte stack buffer
    EXPECT_EQ(back, utf8);
}

TEST(conversion, wiping_destination)
{
    wiping_wstring secret;
    EXPECT_EQ(multibyte_to_wide(CP_UTF8, 0, "geslo", 5, secret), 5);
    EXPECT_EQ(secret, L"geslo");
}

TEST(conversion, invalid_input_fails_without_touching_the_destination)
{
    std::wstring wide = L"keep";
    EXPECT_EQ(multibyte_to_wide(CP_UTF8, MB_ERR_INVALID_CHARS, "\xFF\xFE", 2, wide), 0);
    EXPECT_EQ(GetLastError(), DWORD(ERROR_NO_UNICODE_TRANSLATION));
    EXPECT_EQ(wide, L"keep");
}

TEST(ascii_compare_nocase, folds_only_ascii_letters)
{
    EXPECT_EQ(ascii_compare_nocase("TEXT/PLAIN", "text/plain"), 0);
    EXPECT_NE(ascii_compare_nocase("\xC5\xA0", "\xC5\xA1"), 0);  // Š and š
    EXPECT_LT(ascii_compare_nocase("a", "b"), 0);
    EXPECT_GT(ascii_compare_nocase("\x80", "a"), 0);  // unsigned bytes
    EXPECT_EQ(ascii_compare_nocase("Charset=UTF-8x", "charset=utf-8y", 13), 0);
    EXPECT_EQ(ascii_compare_nocase("ab", "AB", 10), 0);  // stops at the common zero
}

TEST(bounded_length, stops_at_zero_or_limit)
{
    EXPECT_EQ(bounded_length("abc\0def", 7), 3u);
    EXPECT_EQ(bounded_length("abcdef", 4), 4u);
}

TEST(charset_converter, decodes_code_pages_and_appends)
{
    std::wstring out = L">";
    charset_converter(1250).append(out, "\x8A\x9A", 2);  // Š š in Windows-1250
    EXPECT_EQ(out, L">\x0160\x0161");
    charset_converter(65001).assign(out, "\xC5\xA1z\0ignored", 11);
    EXPECT_EQ(out, L"\x0161z");
    charset_converter(65001).append(out, "", 0);
    EXPECT_EQ(out, L"\x0161z");
}

TEST(charset_converter, long_input_takes_the_second_pass)
{
    std::string text(3000, 'q');
    std::wstring out = L"x";
    charset_converter(65001).append(out, text.data(), text.size());
    EXPECT_EQ(out, L"x" + std::wstring(3000, L'q'));
}

TEST(charset_converter, unknown_code_page_throws)
{
    std::wstring out;
    try {
        charset_converter(12345).append(out, "abc", 3);
        FAIL();
    } catch (const std::system_error& e) {
        EXPECT_EQ(std::string(e.what()).rfind("MultiByteToWideChar failed", 0), 0u);
    }
}

}  // namespace
