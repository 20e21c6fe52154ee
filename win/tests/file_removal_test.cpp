#include "win/file_removal.hpp"

#include <gtest/gtest.h>

#include <windows.h>

#include <filesystem>
#include <functional>
#include <string>
#include <system_error>

#include "win/handle.hpp"

namespace {

// What one removal did: threw or not, with which code and path, and whether
// the named entry is still there.
struct outcome {
    bool threw = false;
    std::error_code code;
    std::wstring path;
    std::string what;
    bool still_there = false;

    bool operator==(const outcome& other) const
    {
        return threw == other.threw && code == other.code && path == other.path && still_there == other.still_there;
    }
};

std::wstring fresh_folder(const wchar_t* name)
{
    wchar_t temp[MAX_PATH + 1];
    const DWORD length = GetTempPathW(MAX_PATH + 1, temp);
    EXPECT_GT(length, 0u);
    std::wstring folder = std::wstring(temp, length) + L"lumora-removal-" + name + L"\\";
    std::filesystem::remove_all(folder);
    EXPECT_TRUE(CreateDirectoryW(folder.c_str(), nullptr));
    return folder;
}

// A new file opened for writing and shared with no one; null on failure.
HANDLE create_file(const std::wstring& path, DWORD attributes = FILE_ATTRIBUTE_NORMAL)
{
    const HANDLE file = CreateFileW(path.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, attributes, nullptr);
    EXPECT_NE(file, INVALID_HANDLE_VALUE);
    return file == INVALID_HANDLE_VALUE ? nullptr : file;
}

void make_file(const std::wstring& path, DWORD attributes = FILE_ATTRIBUTE_NORMAL)
{
    wembra::kernel_handle file(create_file(path, attributes));
}

void clear_attributes(const std::wstring& folder)
{
    for (const auto& entry : std::filesystem::recursive_directory_iterator(folder))
        SetFileAttributesW(entry.path().c_str(), FILE_ATTRIBUTE_NORMAL);
}

// A drive letter that names no drive here.
std::wstring missing_drive()
{
    const DWORD drives = GetLogicalDrives();
    for (wchar_t letter = L'Y'; letter > L'D'; --letter)
        if (!(drives & (1u << (letter - L'A'))))
            return std::wstring(1, letter) + L":\\lumora\\report.bxo";
    ADD_FAILURE() << "every drive letter is taken";
    return L"";
}

template <class Remove>
outcome run(Remove remove, const std::wstring& path)
{
    outcome result;
    try {
        remove(path);
    } catch (const std::filesystem::filesystem_error& e) {
        result.threw = true;
        result.code = e.code();
        result.path = e.path1().wstring();
        result.what = e.what();
    }
    result.still_there = !path.empty() && GetFileAttributesW(path.c_str()) != INVALID_FILE_ATTRIBUTES;
    return result;
}

struct removal_case {
    const wchar_t* name;
    // Makes what the case needs in `folder`; returns the path to remove. An
    // open handle that must stay open goes in `held`.
    std::function<std::wstring(const std::wstring& folder, wembra::kernel_handle& held)> prepare;
    bool threw;
    DWORD code;
};

// Every case is set up twice in the same place, once for the standard
// library's removal and once for ours: both must end the same way, and as the
// table says.
TEST(file_removal, ends_as_the_standard_library_removal_does)
{
    const removal_case cases[] = {
        {L"file",
         [](const std::wstring& f, wembra::kernel_handle&) {
             make_file(f + L"1.bxo");
             return f + L"1.bxo";
         },
         false, 0},
        {L"missing-file", [](const std::wstring& f, wembra::kernel_handle&) { return f + L"1.bxr"; }, false, 0},
        {L"missing-folder", [](const std::wstring& f, wembra::kernel_handle&) { return f + L"gone\\1.bxr"; }, false, 0},
        {L"missing-drive", [](const std::wstring&, wembra::kernel_handle&) { return missing_drive(); }, false, 0},
        {L"empty-path", [](const std::wstring&, wembra::kernel_handle&) { return std::wstring(); }, false, 0},
        {L"empty-folder",
         [](const std::wstring& f, wembra::kernel_handle&) {
             CreateDirectoryW((f + L"empty").c_str(), nullptr);
             return f + L"empty";
         },
         false, 0},
        {L"read-only-file",
         [](const std::wstring& f, wembra::kernel_handle&) {
             make_file(f + L"2.bxo", FILE_ATTRIBUTE_READONLY);
             return f + L"2.bxo";
         },
         true, ERROR_ACCESS_DENIED},
        {L"full-folder",
         [](const std::wstring& f, wembra::kernel_handle&) {
             CreateDirectoryW((f + L"full").c_str(), nullptr);
             make_file(f + L"full\\3.bxo");
             return f + L"full";
         },
         true, ERROR_ACCESS_DENIED},
        {L"file-in-use",
         [](const std::wstring& f, wembra::kernel_handle& held) {
             held.attach(create_file(f + L"4.bxo"));
             return f + L"4.bxo";
         },
         true, ERROR_SHARING_VIOLATION},
    };
    for (const removal_case& c : cases) {
        SCOPED_TRACE(::testing::Message() << std::filesystem::path(c.name).string());
        outcome library, own;
        {
            const std::wstring folder = fresh_folder(c.name);
            wembra::kernel_handle held;
            const std::wstring path = c.prepare(folder, held);
            library = run([](const std::wstring& p) { std::filesystem::remove(std::filesystem::path(p)); }, path);
            held.attach(nullptr);
            clear_attributes(folder);
            std::filesystem::remove_all(folder);
        }
        {
            const std::wstring folder = fresh_folder(c.name);
            wembra::kernel_handle held;
            const std::wstring path = c.prepare(folder, held);
            own = run(wembra::remove_file, path);
            held.attach(nullptr);
            clear_attributes(folder);
            std::filesystem::remove_all(folder);
            EXPECT_EQ(own.threw, c.threw);
            if (c.threw) {
                EXPECT_EQ(own.code, std::error_code(static_cast<int>(c.code), std::system_category()));
                EXPECT_EQ(own.path, path);
                EXPECT_NE(own.what.find(": remove: "), std::string::npos) << own.what;
                EXPECT_TRUE(own.still_there);
            } else {
                EXPECT_FALSE(own.still_there);
            }
        }
        EXPECT_TRUE(own == library) << "library: threw " << library.threw << " code " << library.code.value()
                                    << " still there " << library.still_there << "; own: threw " << own.threw
                                    << " code " << own.code.value() << " still there " << own.still_there;
    }
}

}  // namespace
