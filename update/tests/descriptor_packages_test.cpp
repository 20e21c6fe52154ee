#include "update/descriptor_packages.hpp"

#include <gtest/gtest.h>

#include <string>

#include "stream/tests/test_streams.hpp"

namespace {

using fenrix::descriptor_package;

const std::string hash_a(128, 'a');
const std::string hash_b = std::string(64, '0') + std::string(64, 'F');

// "name=hex-or-none" for each package line read.
std::string listed(const std::string& text, std::size_t step)
{
    fenrix::stream::testing::text_source source(text, step);
    std::string out;
    for (const descriptor_package& p : fenrix::read_descriptor_packages(source)) {
        out += p.name + "=";
        if (p.digest) {
            for (std::uint8_t byte : *p.digest) {
                static const char digits[] = "0123456789abcdef";
                out += digits[byte >> 4];
                out += digits[byte & 15];
            }
        } else {
            out += "none";
        }
        out += ";";
    }
    return out;
}

struct packages_case {
    const char* name;
    std::string text;
    std::string expected;
};

class packages_cases : public ::testing::TestWithParam<packages_case> {};

TEST_P(packages_cases, lines_read)
{
    for (std::size_t step : {std::size_t(1), std::size_t(3), SIZE_MAX})
        EXPECT_EQ(listed(GetParam().text, step), GetParam().expected) << "step " << step;
}

const std::string head = "1A2B\nLumora\nhttp://h/p/\n";

INSTANTIATE_TEST_SUITE_P(
    descriptors, packages_cases,
    ::testing::Values(
        packages_case{
            "published", head + "package Lumora.x64.msi " + hash_a + "\npackage Lumora.Win32.msi " + hash_b + "\n",
            "Lumora.x64.msi=" + hash_a + ";Lumora.Win32.msi=" + std::string(64, '0') + std::string(64, 'f') + ";"},
        packages_case{"three_lines_only", head, ""},
        packages_case{"not_among_the_first_three_lines", "package a.msi " + hash_a + "\nx\nhttp://h/\n", ""},
        packages_case{"crlf_and_blanks_trimmed", head + "  package a.msi " + hash_a + " \r\n", "a.msi=" + hash_a + ";"},
        packages_case{"short_hash", head + "package a.msi abc\n", "a.msi=none;"},
        packages_case{"non_hex_hash", head + "package a.msi " + std::string(127, 'a') + "g\n", "a.msi=none;"},
        packages_case{"hash_too_long", head + "package a.msi " + hash_a + "0\n", "a.msi=none;"},
        packages_case{"no_name", head + "package " + hash_a + "\n", ""},
        packages_case{"other_words_ignored", head + "# comment\npackages a " + hash_a + "\nPackage b " + hash_a + "\n",
                      ""},
        packages_case{"last_line_without_line_feed", head + "package a.msi " + hash_a, ""},
        packages_case{"name_with_blank", head + "package my file.msi " + hash_a + "\n", "my file.msi=" + hash_a + ";"}),
    [](const auto& info) { return std::string(info.param.name); });

TEST(descriptor_packages, first_line_of_a_name_counts)
{
    fenrix::stream::testing::text_source source(head + "package a.msi " + hash_a + "\npackage a.msi " + hash_b + "\n");
    const auto packages = fenrix::read_descriptor_packages(source);
    const descriptor_package* found = fenrix::find_descriptor_package(packages, "a.msi");
    ASSERT_NE(found, nullptr);
    ASSERT_TRUE(found->digest.has_value());
    EXPECT_EQ((*found->digest)[0], 0xAA);
    EXPECT_EQ(fenrix::find_descriptor_package(packages, "b.msi"), nullptr);
    EXPECT_EQ(fenrix::find_descriptor_package(packages, "A.msi"), nullptr);
}

}  // namespace
