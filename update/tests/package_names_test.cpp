#include "update/package_names.hpp"

#include <gtest/gtest.h>

namespace {

struct url_case {
    const char* folder_path;
    const char* architecture;
    const char* language_code;
    const char* expected;
};

class package_url_path_test : public ::testing::TestWithParam<url_case> {};

TEST_P(package_url_path_test, appends_the_package_name_to_the_folder)
{
    const url_case& c = GetParam();
    EXPECT_EQ(fenrix::package_url_path(c.folder_path, c.architecture, c.language_code), c.expected);
}

INSTANTIATE_TEST_SUITE_P(folders, package_url_path_test,
                         ::testing::Values(url_case{"/Lumora", ".x64", "", "/Lumora/Lumora.x64.msi"},
                                           url_case{"/Lumora/", ".x64", "", "/Lumora/Lumora.x64.msi"},
                                           url_case{"", ".Win32", "", "/Lumora.Win32.msi"},
                                           url_case{"/a/b//", ".ARM64", ".en", "/a/b//Lumora.ARM64.en.msi"},
                                           // Query and fragment belong to the path text and are kept in front.
                                           url_case{"/dir?x=1", ".x64", "", "/dir?x=1/Lumora.x64.msi"}));

TEST(package_stem, joins_product_architecture_and_language)
{
    EXPECT_EQ(fenrix::package_stem(".x64", ""), "Lumora.x64");
    EXPECT_EQ(fenrix::package_stem(".Win32", ".en"), "Lumora.Win32.en");
}

TEST(installer_parameters, normal_mode_ends_with_the_quoted_log_file)
{
    EXPECT_EQ(fenrix::installer_parameters(L"C:\\T\\Lumora.x64.msi", L"C:\\T\\Lumora.x64.log", false),
              L"/i \"C:\\T\\Lumora.x64.msi\" /l* \"C:\\T\\Lumora.x64.log\"");
}

TEST(installer_parameters, unattended_mode_adds_quiet_options)
{
    EXPECT_EQ(fenrix::installer_parameters(L"a b.msi", L"a b.log", true),
              L"/i \"a b.msi\" /l* \"a b.log\" /qn /norestart");
}

}  // namespace
