#include "win/format.hpp"

#include <gtest/gtest.h>

#include <stdexcept>
#include <string>

namespace {
// The two locales the program formats with (built the same way here, so the
// test needs nothing above this library).
const wembra::crt_locale c_locale("C");
const wembra::crt_locale utf8_locale(".UTF-8");
using wembra::format_append;
using wembra::format_assign;

TEST(format, appends_and_assigns)
{
    std::string text = "status ";
    EXPECT_EQ(format_append(text, "%d", c_locale, 404), 3u);
    EXPECT_EQ(text, "status 404");
    format_assign(text, "%s-%u", c_locale, "x", 7u);
    EXPECT_EQ(text, "x-7");
    EXPECT_EQ(wembra::format("%.2f", c_locale, 1.5), "1.50");
}

TEST(format, longer_than_the_stack_buffer)
{
    const std::string long_arg(5000, 'a');
    std::string text = "<";
    format_append(text, "%s|%d", c_locale, long_arg.c_str(), 9);
    EXPECT_EQ(text, "<" + long_arg + "|9");

    const std::wstring long_wide(2000, L'b');
    std::wstring wide = L"<";
    format_append(wide, L"%ls|%d", c_locale, long_wide.c_str(), 9);
    EXPECT_EQ(wide, L"<" + long_wide + L"|9");
}

TEST(format, exactly_the_stack_buffer_size)
{
    for (std::size_t n : {1022u, 1023u, 1024u, 1025u}) {
        std::string text;
        format_append(text, "%s", c_locale, std::string(n, 'k').c_str());
        EXPECT_EQ(text, std::string(n, 'k'));
    }
}

TEST(format, utf8_locale_turns_wide_arguments_into_utf8)
{
    std::string path;
    format_assign(path, "/Lumora/Kestrup/%s-%ls.txt", utf8_locale, "Windows 10", L"Beta\x0161\x010D");
    EXPECT_EQ(path, "/Lumora/Kestrup/Windows 10-Beta\xC5\xA1\xC4\x8D.txt");
    format_assign(path, "[%5ls|%-4lc|%03d|%%|%x|%lld|%*d]", utf8_locale, L"ab", L'\x0161', 7, 255u, -5ll, 4, 12);
    EXPECT_EQ(path, "[   ab|\xC5\xA1  |007|%|ff|-5|  12]");
    const std::wstring long_wide(3000, L'\x0161');
    format_assign(path, "%ls", utf8_locale, long_wide.c_str());
    EXPECT_EQ(path.size(), 6000u);
}

TEST(format, utf8_locale_refuses_writing_conversions)
{
    std::string text = "kept";
    int count = 0;
    EXPECT_THROW(format_append(text, "%ls%n", utf8_locale, L"x", &count), std::invalid_argument);
    EXPECT_EQ(text, "kept");
}

TEST(format, wide_form_and_current_locale)
{
    std::wstring text;
    format_assign(text, L"Error %u", 5u);
    EXPECT_EQ(text, L"Error 5");
    format_assign(text, L"Error 0x%X", 0xDEADBEEFu);
    EXPECT_EQ(text, L"Error 0xDEADBEEF");
    format_append(text, L"/%ls", c_locale, L"\x0161");
    EXPECT_EQ(text, L"Error 0xDEADBEEF/\x0161");
}

TEST(format, c_locale_uses_a_point_for_decimals)
{
    EXPECT_EQ(wembra::format("%.1f", c_locale, 2.5), "2.5");
}

}  // namespace
