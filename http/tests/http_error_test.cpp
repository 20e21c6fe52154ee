#include <gtest/gtest.h>

#include <windows.h>
#include <winhttp.h>

#include <string>

#include "http/http_error.hpp"
#include "win/strings.hpp"

namespace {

// What FormatMessageW itself gives for `code` from `module` (null: the
// system table alone), trimmed; empty when it has no text.
std::string table_text(HMODULE module, DWORD code)
{
    wchar_t* text = nullptr;
    const DWORD flags = FORMAT_MESSAGE_ALLOCATE_BUFFER | FORMAT_MESSAGE_IGNORE_INSERTS | FORMAT_MESSAGE_FROM_SYSTEM |
        (module ? FORMAT_MESSAGE_FROM_HMODULE : 0);
    if (!FormatMessageW(flags, module, code, 0, reinterpret_cast<wchar_t*>(&text), 0, nullptr))
        return {};
    std::wstring wide(text);
    LocalFree(text);
    while (!wide.empty() && wcschr(L" \t\r\n\f\v", wide.back()))
        wide.pop_back();
    return wembra::wide_to_utf8(wide);
}

struct message_case {
    DWORD code;
    bool from_winhttp_table;  // looked up in WINHTTP.DLL first
    const char* fallback;     // the text when no table describes the code
};

class http_error_message : public ::testing::TestWithParam<message_case> {};

TEST_P(http_error_message, comes_from_the_right_table_or_the_fallback)
{
    const message_case c = GetParam();
    HMODULE winhttp = LoadLibraryW(L"WINHTTP.DLL");
    ASSERT_NE(winhttp, nullptr);
    std::string expected = c.from_winhttp_table ? table_text(winhttp, c.code) : std::string();
    if (expected.empty())
        expected = table_text(nullptr, c.code);
    if (expected.empty())
        expected = c.fallback;
    FreeLibrary(winhttp);

    const std::string text = wembra::http_error::message(c.code);
    EXPECT_EQ(text, expected);
    ASSERT_FALSE(text.empty());
    EXPECT_EQ(std::string(" \t\r\n\f\v").find(text.back()), std::string::npos) << "trailing white space";
}

INSTANTIATE_TEST_SUITE_P(codes, http_error_message,
                         ::testing::Values(message_case{ERROR_WINHTTP_TIMEOUT, true, "Error 12002"},
                                           message_case{ERROR_WINHTTP_CANNOT_CONNECT, true, "Error 12029"},
                                           message_case{12193, true, "Error 12193"},
                                           // Just outside WinHTTP's range: the system table only.
                                           message_case{12000, false, "Error 12000"},
                                           message_case{12194, false, "Error 12194"},
                                           message_case{ERROR_ACCESS_DENIED, false, "Error 5"},
                                           message_case{0xFFFF, false, "Error 65535"},
                                           message_case{0x2345ABCD, false, "Error 0x2345ABCD"}));

TEST(http_error, known_system_code_reads_its_text_without_the_line_break)
{
    const std::string text = wembra::http_error::message(ERROR_ACCESS_DENIED);
    EXPECT_NE(text, "Error 5");
    ASSERT_FALSE(text.empty());
    EXPECT_NE(text.back(), '\n');
    EXPECT_NE(text.back(), '\r');
}

TEST(http_error, undescribed_codes_use_decimal_below_0x10000_and_upper_case_hex_above)
{
    EXPECT_EQ(wembra::http_error::message(0xFFFE), "Error 65534");
    EXPECT_EQ(wembra::http_error::message(0x10000ABC), "Error 0x10000ABC");
}

TEST(http_error, text_is_the_step_then_the_message_of_the_code)
{
    const wembra::http_error from_text(ERROR_WINHTTP_TIMEOUT, "WinHttpReadData failed");
    EXPECT_EQ(from_text.number, DWORD(ERROR_WINHTTP_TIMEOUT));
    EXPECT_EQ(std::string(from_text.what()),
              "WinHttpReadData failed: " + wembra::http_error::message(ERROR_WINHTTP_TIMEOUT));

    const wembra::http_error from_string(ERROR_ACCESS_DENIED, std::string("WinHttpOpen failed"));
    EXPECT_EQ(std::string(from_string.what()), "WinHttpOpen failed: " + wembra::http_error::message(5));

    const wembra::http_error copy = from_string;
    EXPECT_EQ(copy.number, DWORD(5));
    EXPECT_STREQ(copy.what(), from_string.what());
}

TEST(http_error, last_error_form_keeps_the_code_and_leaves_last_error_unchanged)
{
    SetLastError(ERROR_WINHTTP_CANNOT_CONNECT);
    const wembra::http_error error("WinHttpConnect failed");
    EXPECT_EQ(GetLastError(), DWORD(ERROR_WINHTTP_CANNOT_CONNECT));
    EXPECT_EQ(error.number, DWORD(ERROR_WINHTTP_CANNOT_CONNECT));
    EXPECT_EQ(std::string(error.what()),
              "WinHttpConnect failed: " + wembra::http_error::message(ERROR_WINHTTP_CANNOT_CONNECT));

    SetLastError(ERROR_FILE_NOT_FOUND);
    wembra::http_error::message(ERROR_WINHTTP_TIMEOUT);
    EXPECT_EQ(GetLastError(), DWORD(ERROR_FILE_NOT_FOUND));
}

}  // namespace
