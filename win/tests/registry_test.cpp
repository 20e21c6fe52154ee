#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "win/handle.hpp"
#include "win/system_text.hpp"
#include "win/wiping_allocator.hpp"

namespace {
using wembra::reg_query_string;

// A scratch key in the test prefix's HKEY_LOCAL_MACHINE, removed afterwards.
class registry : public ::testing::Test {
protected:
    void SetUp() override
    {
        ASSERT_EQ(RegCreateKeyExW(HKEY_LOCAL_MACHINE, path, 0, nullptr, 0, KEY_ALL_ACCESS, nullptr, key.out(), nullptr),
                  ERROR_SUCCESS);
    }
    void TearDown() override
    {
        key.attach(nullptr);
        RegDeleteKeyW(HKEY_LOCAL_MACHINE, path);
    }
    void set(const wchar_t* name, DWORD type, const void* data, DWORD bytes)
    {
        ASSERT_EQ(RegSetValueExW(key.get(), name, 0, type, static_cast<const BYTE*>(data), bytes), ERROR_SUCCESS);
    }
    void set_text(const wchar_t* name, DWORD type, const std::wstring& text, bool with_terminator)
    {
        set(name, type, text.c_str(), DWORD((text.size() + (with_terminator ? 1 : 0)) * sizeof(wchar_t)));
    }

    static constexpr const wchar_t* path = L"SOFTWARE\\LumoraTests\\Strings";
    wembra::reg_key key;
};

TEST_F(registry, string_with_and_without_terminator_read_alike)
{
    set_text(L"with", REG_SZ, L"vrednost", true);
    set_text(L"without", REG_SZ, L"vrednost", false);
    std::wstring a, b;
    EXPECT_EQ(reg_query_string(key.get(), L"with", a), ERROR_SUCCESS);
    EXPECT_EQ(reg_query_string(key.get(), L"without", b), ERROR_SUCCESS);
    EXPECT_EQ(a, L"vrednost");
    EXPECT_EQ(b, L"vrednost");
}

TEST_F(registry, long_string_through_more_data)
{
    const std::wstring long_text(600, L'x');
    for (bool terminated : {true, false}) {
        set_text(L"long", REG_SZ, long_text, terminated);
        std::wstring out;
        EXPECT_EQ(reg_query_string(key.get(), L"long", out), ERROR_SUCCESS);
        EXPECT_EQ(out, long_text);
    }
}

TEST_F(registry, expand_string_is_expanded)
{
    wchar_t temp[MAX_PATH];
    const DWORD n = GetEnvironmentVariableW(L"TEMP", temp, MAX_PATH);
    ASSERT_GT(n, 0u);
    set_text(L"expand", REG_EXPAND_SZ, L"%TEMP%\\x", true);
    std::wstring out;
    EXPECT_EQ(reg_query_string(key.get(), L"expand", out), ERROR_SUCCESS);
    EXPECT_EQ(out, std::wstring(temp, n) + L"\\x");

    const std::wstring long_text = L"%TEMP%" + std::wstring(700, L'y');
    set_text(L"long_expand", REG_EXPAND_SZ, long_text, true);
    EXPECT_EQ(reg_query_string(key.get(), L"long_expand", out), ERROR_SUCCESS);
    EXPECT_EQ(out, std::wstring(temp, n) + std::wstring(700, L'y'));
}

TEST_F(registry, expand_string_filling_the_whole_first_buffer)
{
    // 512 units with no terminator: the expansion must not read past them.
    set_text(L"full", REG_EXPAND_SZ, std::wstring(512, L'z'), false);
    std::wstring out;
    EXPECT_EQ(reg_query_string(key.get(), L"full", out), ERROR_SUCCESS);
    EXPECT_EQ(out, std::wstring(512, L'z'));
}

TEST_F(registry, other_types_are_invalid_data)
{
    const DWORD dword = 1;
    set(L"dword", REG_DWORD, &dword, sizeof dword);
    std::wstring out = L"unchanged";
    EXPECT_EQ(reg_query_string(key.get(), L"dword", out), ERROR_INVALID_DATA);
    EXPECT_EQ(out, L"unchanged");
}

TEST_F(registry, missing_value_gives_file_not_found)
{
    std::wstring out;
    EXPECT_EQ(reg_query_string(key.get(), L"missing", out), ERROR_FILE_NOT_FOUND);
}

TEST_F(registry, empty_string_value)
{
    set_text(L"empty", REG_SZ, L"", true);
    std::wstring out = L"x";
    EXPECT_EQ(reg_query_string(key.get(), L"empty", out), ERROR_SUCCESS);
    EXPECT_EQ(out, L"");
}

TEST_F(registry, multi_string_keeps_inner_zeros)
{
    const wchar_t multi[] = L"a\0b\0";  // plus the literal's own zero
    set(L"multi", REG_MULTI_SZ, multi, sizeof multi);
    std::wstring out;
    EXPECT_EQ(reg_query_string(key.get(), L"multi", out), ERROR_SUCCESS);
    EXPECT_EQ(out, std::wstring(L"a\0b\0", 4));
}

TEST(expand_environment_strings, grows_for_long_results)
{
    SetEnvironmentVariableW(L"LUMORA_LONG", std::wstring(1000, L'v').c_str());
    std::wstring out;
    EXPECT_EQ(wembra::expand_environment_strings(L"<%LUMORA_LONG%>", out), 1003u);
    EXPECT_EQ(out, L"<" + std::wstring(1000, L'v') + L">");
}

TEST(format_message, system_table_and_failure)
{
    std::wstring out = L"unchanged";
    EXPECT_GT(wembra::format_message(FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS, nullptr,
                                     ERROR_ACCESS_DENIED, 0, out),
              0u);
    EXPECT_NE(out, L"unchanged");
    std::wstring untouched = L"unchanged";
    EXPECT_EQ(wembra::format_message(FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS, nullptr, 0xABCDE, 0,
                                     untouched),
              0u);
    EXPECT_EQ(untouched, L"unchanged");
}

}  // namespace

namespace {

std::vector<std::size_t>* wiped_blocks = nullptr;

void note_wipe(const void*, std::size_t bytes)
{
    if (wiped_blocks)
        wiped_blocks->push_back(bytes);
}

struct secret_case {
    const char* name;
    std::wstring raw;
    std::size_t wiped_during_read;  // at least: copies released inside the read
};

class secret_value : public registry, public ::testing::WithParamInterface<secret_case> {
protected:
    void SetUp() override
    {
        registry::SetUp();
        SetEnvironmentVariableW(L"LUMORA_SECRET_PART", std::wstring(400, L's').c_str());
        wiped_blocks = &wiped;
        wembra::wipe_observer = note_wipe;
    }
    void TearDown() override
    {
        wembra::wipe_observer = nullptr;
        wiped_blocks = nullptr;
        SetEnvironmentVariableW(L"LUMORA_SECRET_PART", nullptr);
        registry::TearDown();
    }
    std::vector<std::size_t> wiped;
};

// A value that may be the proxy password leaves no copy behind: the raw
// value of a long REG_EXPAND_SZ, and the expansion's smaller first block
// when the expansion grows, are wiped when they are released.
TEST_P(secret_value, every_copy_released_inside_the_read_is_wiped)
{
    const secret_case& c = GetParam();
    set_text(L"secret", REG_EXPAND_SZ, c.raw, true);
    {
        wembra::wiping_wstring out;
        ASSERT_EQ(reg_query_string(key.get(), L"secret", out), ERROR_SUCCESS);
        std::wstring expected = c.raw;
        for (std::size_t at; (at = expected.find(L"%LUMORA_SECRET_PART%")) != std::wstring::npos;)
            expected.replace(at, 20, std::wstring(400, L's'));
        EXPECT_EQ(std::wstring(out.data(), out.size()), expected);
        EXPECT_GE(wiped.size(), c.wiped_during_read);
        wiped.clear();
    }
    EXPECT_EQ(wiped.size(), 1u) << "the result itself";
}

INSTANTIATE_TEST_SUITE_P(values, secret_value,
                         ::testing::Values(
                             // 20 characters read at once; the expansion outgrows its first block.
                             secret_case{"short_raw_growing_expansion", L"%LUMORA_SECRET_PART%", 1},
                             // Beyond the first read's 512 characters: the raw copy, then the growth.
                             secret_case{"long_raw_growing_expansion",
                                         L"%LUMORA_SECRET_PART%%LUMORA_SECRET_PART%" + std::wstring(600, L'p'), 2}),
                         [](const auto& info) { return std::string(info.param.name); });

}  // namespace
