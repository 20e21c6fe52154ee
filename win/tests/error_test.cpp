#include "win/error.hpp"

#include <gtest/gtest.h>

#include <string>

namespace {
using wembra::com_runtime_error;
using wembra::win_runtime_error;

TEST(win_runtime_error, known_code_has_system_text_without_trailing_break)
{
    const std::string text = win_runtime_error::message(ERROR_FILE_NOT_FOUND);
    ASSERT_FALSE(text.empty());
    EXPECT_NE(text.back(), '\n');
    EXPECT_NE(text.back(), '\r');
    EXPECT_NE(text.back(), ' ');
    EXPECT_EQ(text.rfind("Error ", 0), std::string::npos) << text;
}

TEST(win_runtime_error, unknown_codes_fall_back_to_the_number)
{
    struct {
        DWORD code;
        const char* text;
    } cases[] = {
        {0xFFFF, "Error 65535"},
        {0x10000, "Error 0x10000"},
        {0xABCDE, "Error 0xABCDE"},
        {0xE0123456, "Error 0xE0123456"},
    };
    for (const auto& c : cases)
        EXPECT_EQ(win_runtime_error::message(c.code), c.text);
}

TEST(win_runtime_error, composes_text_and_message)
{
    win_runtime_error e(0x10000, "GetTempPath failed");
    EXPECT_STREQ(e.what(), "GetTempPath failed: Error 0x10000");
    EXPECT_EQ(e.number, 0x10000u);
}

TEST(win_runtime_error, takes_and_keeps_the_last_error)
{
    ASSERT_EQ(GetFileAttributesW(L"Z:\\no\\such\\file.txt"), INVALID_FILE_ATTRIBUTES);
    const DWORD failed_with = GetLastError();
    win_runtime_error e("GetFileAttributes failed");
    EXPECT_EQ(e.number, failed_with);
    EXPECT_EQ(GetLastError(), failed_with);
    EXPECT_EQ(std::string(e.what()), "GetFileAttributes failed: " + win_runtime_error::message(failed_with));
}

TEST(win_runtime_error, non_ascii_text_passes_byte_for_byte)
{
    win_runtime_error e(0x10000, "Napaka \xC5\xA1\xC4\x8D");
    EXPECT_STREQ(e.what(), "Napaka \xC5\xA1\xC4\x8D: Error 0x10000");
}

TEST(win_runtime_error, is_copyable)
{
    win_runtime_error e(5, "x");
    win_runtime_error copy(e);
    EXPECT_STREQ(copy.what(), e.what());
    EXPECT_EQ(copy.number, 5u);
}

TEST(com_runtime_error, failure_without_text_is_hexadecimal)
{
    com_runtime_error e(LONG(0x8FFF1234), "CoInitializeEx failed");
    EXPECT_STREQ(e.what(), "CoInitializeEx failed: Error 0x8FFF1234");
    EXPECT_EQ(e.number, LONG(0x8FFF1234));
}

TEST(com_runtime_error, known_hresult_has_text)
{
    const std::string text = com_runtime_error::message(E_OUTOFMEMORY);
    EXPECT_EQ(text.rfind("Error ", 0), std::string::npos) << text;
}

}  // namespace
