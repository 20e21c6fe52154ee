// What the 32-bit program sees on 64-bit Windows, where it runs under WOW64
// (this test runs in the 64-bit prefix): the native machine, the package
// suffix it names, and the Common Files folder it is given. The values the
// system reports are printed for the record.
#include <windows.h>

#include <knownfolders.h>
#include <shlobj.h>

#include <gtest/gtest.h>

#include <cstdio>
#include <string>

#include "base/platform.hpp"
#include "win/tests/wow64.hpp"

namespace {

using is_wow64_process2_t = BOOL(WINAPI*)(HANDLE, USHORT*, USHORT*);

std::string narrow(const std::wstring& text)
{
    std::string out;
    for (wchar_t c : text)
        out += c < 0x80 ? char(c) : '?';
    return out;
}

std::wstring environment(const wchar_t* name)
{
    wchar_t value[MAX_PATH] = {};
    const DWORD length = GetEnvironmentVariableW(name, value, MAX_PATH);
    return length > 0 && length < MAX_PATH ? value : L"(unset)";
}

class wow64 : public ::testing::Test {
protected:
    void SetUp() override
    {
        ASSERT_TRUE(wembra::testing::under_wow64()) << "this test runs in a 64-bit prefix, under WOW64";
    }
};

TEST_F(wow64, the_program_asks_for_the_x64_package)
{
    const char* suffix = fenrix::architecture_suffix();
    ASSERT_NE(suffix, nullptr);
    EXPECT_STREQ(suffix, ".x64");
}

TEST_F(wow64, native_machine_is_amd64)
{
    auto is_wow64_process2 = reinterpret_cast<is_wow64_process2_t>(
        reinterpret_cast<void (*)()>(GetProcAddress(GetModuleHandleW(L"kernel32.dll"), "IsWow64Process2")));
    if (!is_wow64_process2) {
        std::printf("reported: IsWow64Process2 missing, IsWow64Process answers TRUE\n");
        return;
    }
    USHORT process_machine = 0, native_machine = 0;
    ASSERT_TRUE(is_wow64_process2(GetCurrentProcess(), &process_machine, &native_machine)) << GetLastError();
    std::printf("reported: IsWow64Process2 process machine 0x%04X, native machine 0x%04X\n", process_machine,
                native_machine);
    EXPECT_EQ(process_machine, IMAGE_FILE_MACHINE_I386);
    EXPECT_EQ(native_machine, IMAGE_FILE_MACHINE_AMD64);
}

// The elevated program keeps its packages under this folder: a 32-bit
// process is given the one of the 32-bit programs.
TEST_F(wow64, common_files_folder_is_the_one_of_32_bit_programs)
{
    wchar_t* path = nullptr;
    const HRESULT result = SHGetKnownFolderPath(FOLDERID_ProgramFilesCommon, 0, nullptr, &path);
    ASSERT_EQ(result, S_OK);
    const std::wstring common_files = path;
    CoTaskMemFree(path);
    wchar_t wow64_system[MAX_PATH] = {};
    GetSystemWow64DirectoryW(wow64_system, MAX_PATH);
    std::printf("reported: FOLDERID_ProgramFilesCommon %s\n", narrow(common_files).c_str());
    std::printf("reported: CommonProgramFiles %s, CommonProgramW6432 %s, ProgramW6432 %s\n",
                narrow(environment(L"CommonProgramFiles")).c_str(), narrow(environment(L"CommonProgramW6432")).c_str(),
                narrow(environment(L"ProgramW6432")).c_str());
    std::printf("reported: GetSystemWow64Directory %s\n", narrow(wow64_system).c_str());
    EXPECT_EQ(CompareStringOrdinal(common_files.c_str(), -1, L"C:\\Program Files (x86)\\Common Files", -1, TRUE),
              CSTR_EQUAL)
        << narrow(common_files);
}

}  // namespace
