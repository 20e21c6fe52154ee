#include "update/freshness_rules.hpp"

#include <gtest/gtest.h>

#include <string>

namespace {

using fenrix::minisign::trusted_comment_fields;

struct name_case {
    const char* path;
    const char* name;
};

class file_names : public ::testing::TestWithParam<name_case> {};

TEST_P(file_names, last_segment_decoded)
{
    EXPECT_EQ(fenrix::requested_file_name(GetParam().path), GetParam().name);
}

INSTANTIATE_TEST_SUITE_P(paths, file_names,
                         ::testing::Values(name_case{"/Lumora/Kestrup/win10-stable.txt", "win10-stable.txt"},
                                           name_case{"/Lumora/packages/Lumora.x64.msi?v=2#top", "Lumora.x64.msi"},
                                           name_case{"/a/with%20space.msi", "with space.msi"},
                                           name_case{"/a/%C4%8D%c4%87.txt", "\xC4\x8D\xC4\x87.txt"},
                                           name_case{"/a/raw-\xC4\x8D.txt", "raw-\xC4\x8D.txt"},
                                           name_case{"/a/bad%2", "bad%2"}, name_case{"/a/bad%zz", "bad%zz"},
                                           name_case{"/a/b%2Fc", "b/c"}, name_case{"/folder/", ""},
                                           name_case{"no-slash", "no-slash"}, name_case{"", ""}));

struct rule_case {
    const char* name;
    trusted_comment_fields fields;
    std::uint64_t not_before;
    std::optional<std::uint64_t> accepted;
    const char* error;  // empty: passes
};

class rule_cases : public ::testing::TestWithParam<rule_case> {};

TEST_P(rule_cases, verdict)
{
    const rule_case& c = GetParam();
    try {
        fenrix::check_trusted_comment_fields(c.fields, "win10-stable.txt", c.not_before, c.accepted);
        EXPECT_STREQ("", c.error);
    } catch (const std::runtime_error& e) {
        EXPECT_STREQ(e.what(), c.error);
    }
}

const char* const another_file = "Minisign signature is for another file";
const char* const below_floor = "Minisign signature is older than this program accepts";
const char* const replayed = "Minisign signature is older than one already accepted";

INSTANTIATE_TEST_SUITE_P(
    fields, rule_cases,
    ::testing::Values(rule_case{"first_fetch", {1800, "win10-stable.txt"}, 0, std::nullopt, ""},
                      rule_case{"newer_than_accepted", {1800, "win10-stable.txt"}, 0, 1700u, ""},
                      rule_case{"same_as_accepted", {1800, "win10-stable.txt"}, 0, 1800u, ""},
                      rule_case{"older_than_accepted", {1799, "win10-stable.txt"}, 0, 1800u, replayed},
                      rule_case{"at_the_floor", {1800, "win10-stable.txt"}, 1800, std::nullopt, ""},
                      rule_case{"below_the_floor", {1799, "win10-stable.txt"}, 1800, std::nullopt, below_floor},
                      rule_case{"below_floor_and_accepted", {1000, "win10-stable.txt"}, 1800, 1900u, below_floor},
                      rule_case{"another_file", {1800, "win10-beta.txt"}, 0, std::nullopt, another_file},
                      rule_case{"file_name_case_matters", {1800, "WIN10-stable.txt"}, 0, std::nullopt, another_file},
                      rule_case{"another_file_comes_first", {1, "win10-beta.txt"}, 1800, 1900u, another_file},
                      rule_case{"no_fields", {std::nullopt, std::nullopt}, 0, std::nullopt, ""},
                      rule_case{"no_fields_with_a_floor", {std::nullopt, std::nullopt}, 1800, std::nullopt, ""},
                      rule_case{"no_time_after_one_was_accepted", {std::nullopt, "win10-stable.txt"}, 0, 1u, replayed},
                      rule_case{"time_without_file", {1800, std::nullopt}, 0, 1800u, ""}),
    [](const auto& info) { return std::string(info.param.name); });

}  // namespace
