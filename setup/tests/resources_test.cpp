// The resources linked into LumoraSetup.exe, read from the built program as
// Windows reads them: the Slovenian string table with every text stored with
// its NUL, the icon, the manifest, and the crash reporter's texts.
#include <windows.h>

#include <gtest/gtest.h>

#include <string>
#include <string_view>

namespace {

class program_resources : public ::testing::Test {
protected:
    static void SetUpTestSuite()
    {
        module =
            LoadLibraryExW(LUMORA_SETUP_PROGRAM, nullptr, LOAD_LIBRARY_AS_DATAFILE | LOAD_LIBRARY_AS_IMAGE_RESOURCE);
        ASSERT_NE(module, nullptr) << "cannot load " << GetLastError();
    }
    static void TearDownTestSuite() { FreeLibrary(module); }

    // The text as stored: LoadStringW with a zero length points into the
    // resource and returns the stored length.
    static std::wstring_view stored_string(UINT id)
    {
        const wchar_t* text = nullptr;
        const int length = LoadStringW(module, id, reinterpret_cast<wchar_t*>(&text), 0);
        return length > 0 && text ? std::wstring_view(text, size_t(length)) : std::wstring_view();
    }

    static std::string manifest()
    {
        HRSRC found = FindResourceW(module, MAKEINTRESOURCEW(1), MAKEINTRESOURCEW(24));
        if (!found)
            return {};
        const auto* data = static_cast<const char*>(LockResource(LoadResource(module, found)));
        return std::string(data, SizeofResource(module, found));
    }

    static HMODULE module;
};

HMODULE program_resources::module = nullptr;

struct string_case {
    UINT id;
    const wchar_t* text;
};

TEST_F(program_resources, strings_of_the_dialog_count_their_nul)
{
    const string_case cases[] = {
        {1, L"Prenos namestitvenega paketa ..."},
        {2, L"Namestitveni program"},
        {3, L"Izberite jezik namestitve"},
    };
    for (const string_case& c : cases) {
        const std::wstring_view stored = stored_string(c.id);
        ASSERT_FALSE(stored.empty()) << "string " << c.id;
        EXPECT_EQ(stored.back(), L'\0') << "string " << c.id << " is stored without its NUL";
        EXPECT_EQ(std::wstring(stored.substr(0, stored.size() - 1)), c.text) << "string " << c.id;
    }
}

TEST_F(program_resources, string_table_is_slovenian)
{
    // Block 1 holds strings 0 to 15.
    EXPECT_NE(FindResourceExW(module, MAKEINTRESOURCEW(6), MAKEINTRESOURCEW(1), 0x0424), nullptr);
}

TEST_F(program_resources, crash_reporter_texts_are_present_with_their_nul)
{
    for (UINT id = 28656; id <= 28666; ++id) {
        if (id == 28660)
            continue;  // not used by the reporter
        const std::wstring_view stored = stored_string(id);
        ASSERT_FALSE(stored.empty()) << "string " << id;
        EXPECT_EQ(stored.back(), L'\0') << "string " << id;
    }
}

TEST_F(program_resources, icon_one_is_the_program_icon)
{
    HICON icon = static_cast<HICON>(LoadImageW(module, MAKEINTRESOURCEW(1), IMAGE_ICON, 32, 32, 0));
    ASSERT_NE(icon, nullptr);
    DestroyIcon(icon);
}

TEST_F(program_resources, manifest_asks_for_no_elevation_and_common_controls_6)
{
    const std::string text = manifest();
    ASSERT_FALSE(text.empty());
    EXPECT_NE(text.find("level=\"asInvoker\""), std::string::npos);
    EXPECT_NE(text.find("name=\"Microsoft.Windows.Common-Controls\""), std::string::npos);
    EXPECT_NE(text.find("version=\"6.0.0.0\""), std::string::npos);
    EXPECT_NE(text.find("<dpiAware"), std::string::npos);
    // Windows 7, 8, 8.1 and 10/11.
    for (const char* id : {"35138b9a-5d96-4fbd-8e2d-a2440225f93a", "4a2f28e3-53b9-4441-ba9c-d69d4a4a6e38",
                           "1f676c76-80e1-4239-95bb-83d0f6d0da78", "8e0f7a12-bfb3-4fe8-b9a5-48fd50a15a9a"})
        EXPECT_NE(text.find(id), std::string::npos) << id;
}

}  // namespace
