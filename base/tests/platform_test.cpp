#include <windows.h>

#include <gtest/gtest.h>

#include <string>

#include "base/platform.hpp"
#include "win/tests/wow64.hpp"

namespace {

struct version_case {
    std::uint32_t major, minor, build;
    const char* name;  // "" for none
};

class version_names : public ::testing::TestWithParam<version_case> {};

TEST_P(version_names, named_by_first_matching_rule)
{
    const version_case& c = GetParam();
    const char* name = fenrix::os_name_for_version(c.major, c.minor, c.build);
    EXPECT_EQ(std::string(name ? name : ""), c.name) << c.major << "." << c.minor << "." << c.build;
}

INSTANTIATE_TEST_SUITE_P(table, version_names,
                         ::testing::Values(version_case{11, 0, 0, "win11"}, version_case{10, 0, 22000, "win11"},
                                           version_case{10, 0, 21999, "win10"},
                                           version_case{10, 0, 0xF0000000u | 22631, "win11"},
                                           version_case{10, 0, 0xF0000000u | 19045, "win10"},
                                           version_case{10, 0, 0x10000u | 100, "win10"}, version_case{7, 0, 0, "win10"},
                                           version_case{6, 3, 9600, "win8_1"}, version_case{6, 4, 0, "win8_1"},
                                           version_case{6, 2, 9200, "win8"}, version_case{6, 1, 7601, "win7sp1"},
                                           version_case{6, 1, 7600, "win7"},
                                           version_case{6, 1, 0xC0000000u | 7601, "win7sp1"},
                                           version_case{6, 0, 6002, ""}, version_case{5, 1, 2600, ""}));

TEST(architecture, suffix_per_machine)
{
    EXPECT_STREQ(fenrix::architecture_suffix_for_machine(IMAGE_FILE_MACHINE_I386), ".Win32");
    EXPECT_STREQ(fenrix::architecture_suffix_for_machine(IMAGE_FILE_MACHINE_AMD64), ".x64");
    EXPECT_STREQ(fenrix::architecture_suffix_for_machine(0xAA64), ".ARM64");
    EXPECT_EQ(fenrix::architecture_suffix_for_machine(0x01C4), nullptr);  // ARMNT
    EXPECT_EQ(fenrix::architecture_suffix_for_machine(0), nullptr);
}

// The 32-bit build's test prefix is a 32-bit Wine prefix: no WOW64, so the
// process sees a 32-bit x86 machine, whichever of the two calls answers. The
// 64-bit build's is a 64-bit one, an x64 machine.
TEST(architecture, as_this_process_sees_it)
{
    if (wembra::testing::sixty_four_bit_process) {
        EXPECT_STREQ(fenrix::architecture_suffix(), ".x64");
        return;
    }
    BOOL wow64 = TRUE;
    ASSERT_TRUE(IsWow64Process(GetCurrentProcess(), &wow64));
    EXPECT_FALSE(wow64);
    EXPECT_STREQ(fenrix::architecture_suffix(), ".Win32");
}

TEST(os_name, matches_the_version_ntdll_reports)
{
    OSVERSIONINFOW info{};
    info.dwOSVersionInfoSize = sizeof info;
    using rtl_get_version_t = LONG(WINAPI*)(OSVERSIONINFOW*);
    auto rtl_get_version = reinterpret_cast<rtl_get_version_t>(
        reinterpret_cast<void (*)()>(GetProcAddress(GetModuleHandleW(L"ntdll.dll"), "RtlGetVersion")));
    ASSERT_NE(rtl_get_version, nullptr);
    ASSERT_EQ(rtl_get_version(&info), 0);
    const char* expected = fenrix::os_name_for_version(info.dwMajorVersion, info.dwMinorVersion, info.dwBuildNumber);
    EXPECT_EQ(fenrix::os_name, expected);
}

}  // namespace
