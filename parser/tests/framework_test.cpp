// The building blocks of every grammar: single characters, sets, fixed texts,
// ordered choice and repetition.
#include <gtest/gtest.h>

#include <cstring>

#include "parser/character.hpp"
#include "parser/collection.hpp"
#include "parser/iterations.hpp"
#include "parser/string.hpp"

namespace fenrix::parser {
namespace {

constexpr interval no_match{1, 0};

struct cu_case {
    const char* name;
    char chr;
    bool invert;
    const char* text;
    std::size_t start, end;
    int flags;
    bool matches;
};

class cu_test : public testing::TestWithParam<cu_case> {};

TEST_P(cu_test, matches_one_character_or_nothing)
{
    const auto& c = GetParam();
    basic_cu<char> p(c.chr, c.invert);
    EXPECT_EQ(p.match(c.text, c.start, c.end, c.flags), c.matches);
    EXPECT_EQ(p.interval, (c.matches ? interval{c.start, c.start + 1} : no_match));
}

INSTANTIATE_TEST_SUITE_P(cases, cu_test,
                         testing::Values(cu_case{"exact", 'a', false, "a", 0, SIZE_MAX, 0, true},
                                         cu_case{"case_differs", 'a', false, "A", 0, SIZE_MAX, 0, false},
                                         cu_case{"case_folded", 'a', false, "A", 0, SIZE_MAX, match_case_insensitive,
                                                 true},
                                         cu_case{"inverted_other", 'a', true, "b", 0, SIZE_MAX, 0, true},
                                         cu_case{"inverted_same", 'a', true, "a", 0, SIZE_MAX, 0, false},
                                         cu_case{"inverted_empty_text", 'a', true, "", 0, SIZE_MAX, 0, false},
                                         cu_case{"inverted_at_limit", 'a', true, "bb", 1, 1, 0, false},
                                         cu_case{"later_position", 'b', false, "ab", 1, 2, 0, true},
                                         cu_case{"nul_never_matches", '\0', false, "", 0, SIZE_MAX, 0, false}),
                         [](const auto& info) { return std::string(info.param.name); });

TEST(cu_set, reports_first_member_that_matched)
{
    basic_cu_set<char> set("Aa");
    ASSERT_TRUE(set.match("a", 0, SIZE_MAX, 0));
    EXPECT_EQ(set.hit_offset, 1u);
    ASSERT_TRUE(set.match("a", 0, SIZE_MAX, match_case_insensitive));
    EXPECT_EQ(set.hit_offset, 0u);
    EXPECT_EQ(set.interval, (interval{0, 1}));
}

TEST(cu_set, inverted_match_has_no_member)
{
    basic_cu_set<char> set("Aa", SIZE_MAX, true);
    ASSERT_TRUE(set.match("x", 0, SIZE_MAX, 0));
    EXPECT_EQ(set.hit_offset, SIZE_MAX);
    EXPECT_FALSE(set.match("a", 0, SIZE_MAX, 0));
    EXPECT_EQ(set.interval, no_match);
}

TEST(cu_set, failure_resets_hit_offset_and_count_bounds_the_set)
{
    basic_cu_set<char> set("abc", 2);
    ASSERT_TRUE(set.match("b", 0, SIZE_MAX, 0));
    EXPECT_FALSE(set.match("c", 0, SIZE_MAX, 0));
    EXPECT_EQ(set.hit_offset, SIZE_MAX);
    EXPECT_EQ(set.interval, no_match);
    EXPECT_FALSE(set.match("", 0, SIZE_MAX, 0));
}

struct string_case {
    const char* name;
    const char* text;
    std::size_t start, end;
    int flags;
    interval expected;
};

class string_test : public testing::TestWithParam<string_case> {};

TEST_P(string_test, matches_the_whole_text_or_nothing)
{
    const auto& c = GetParam();
    basic_string<char> p("http");
    EXPECT_EQ(p.match(c.text, c.start, c.end, c.flags), c.expected.valid());
    EXPECT_EQ(p.interval, c.expected);
}

INSTANTIATE_TEST_SUITE_P(cases, string_test,
                         testing::Values(string_case{"exact", "http:", 0, SIZE_MAX, 0, {0, 4}},
                                         string_case{
                                             "upper_case_folded", "HTTP:", 0, SIZE_MAX, match_case_insensitive, {0, 4}},
                                         string_case{"upper_case_exact", "HTTP:", 0, SIZE_MAX, 0, no_match},
                                         string_case{"text_too_short", "htt", 0, SIZE_MAX, 0, no_match},
                                         string_case{"limit_too_short", "http", 0, 3, 0, no_match},
                                         string_case{"start_at_limit", "http", 4, 4, 0, no_match},
                                         string_case{"offset", "xhttp", 1, 5, 0, {1, 5}},
                                         string_case{"differs", "hxtp", 0, SIZE_MAX, 0, no_match}),
                         [](const auto& info) { return std::string(info.param.name); });

TEST(string, count_bounds_the_text_to_match)
{
    basic_string<char> p("https", 4);
    EXPECT_EQ(p.str, "http");
    EXPECT_TRUE(p.match("http:", 0, SIZE_MAX, 0));
}

class scheme_branch : public testing::Test {
protected:
    static constexpr char list[] = "https\0http\0wss\0ws\0";
    basic_string_branch<char> branch{list, sizeof list};
};

TEST_F(scheme_branch, holds_one_string_per_member_in_order)
{
    ASSERT_EQ(branch.parsers.size(), 4u);
    EXPECT_EQ(static_cast<basic_string<char>&>(*branch.parsers[0]).str, "https");
    EXPECT_EQ(static_cast<basic_string<char>&>(*branch.parsers[3]).str, "ws");
}

TEST_F(scheme_branch, first_member_that_matches_wins)
{
    ASSERT_TRUE(branch.match("https://", 0, SIZE_MAX, 0));
    EXPECT_EQ(branch.hit_offset, 0u);
    EXPECT_EQ(branch.interval, (interval{0, 5}));
    ASSERT_TRUE(branch.match("http://", 0, SIZE_MAX, 0));
    EXPECT_EQ(branch.hit_offset, 1u);
    EXPECT_EQ(branch.interval, (interval{0, 4}));
    // Members after the winner are left at no match.
    EXPECT_FALSE(branch.parsers[2]->interval.valid());
    EXPECT_FALSE(branch.parsers[3]->interval.valid());
}

TEST_F(scheme_branch, failure_leaves_every_member_at_no_match)
{
    ASSERT_TRUE(branch.match("ws:", 0, SIZE_MAX, 0));
    EXPECT_EQ(branch.hit_offset, 3u);
    EXPECT_FALSE(branch.match("ftp://", 0, SIZE_MAX, 0));
    EXPECT_EQ(branch.hit_offset, SIZE_MAX);
    EXPECT_EQ(branch.interval, no_match);
    for (const auto& part : branch.parsers)
        EXPECT_FALSE(part->interval.valid());
}

TEST(string_branch, list_ends_at_count_or_empty_string)
{
    EXPECT_EQ(basic_string_branch<char>("ab\0cd\0\0ef\0", 11).parsers.size(), 2u);
    basic_string_branch<char> cut("ab\0cdef", 5);
    ASSERT_EQ(cut.parsers.size(), 2u);
    EXPECT_EQ(static_cast<basic_string<char>&>(*cut.parsers[1]).str, "cd");
    EXPECT_TRUE(basic_string_branch<char>("", 1).parsers.empty());
}

TEST(branch, invalidate_resets_every_member)
{
    basic_string_branch<char> branch("a\0b\0", 4);
    ASSERT_TRUE(branch.match("a", 0, SIZE_MAX, 0));
    branch.invalidate();
    EXPECT_EQ(branch.hit_offset, SIZE_MAX);
    EXPECT_EQ(branch.interval, no_match);
    EXPECT_FALSE(branch.parsers[0]->interval.valid());
}

struct iterations_case {
    const char* name;
    const char* text;
    std::size_t min, max;
    bool greedy;
    interval expected;
};

class iterations_test : public testing::TestWithParam<iterations_case> {};

TEST_P(iterations_test, repeats_the_element)
{
    const auto& c = GetParam();
    basic_cu_set<char> digit("0123456789");
    basic_iterations<char> run(share(digit), c.min, c.max, c.greedy);
    EXPECT_EQ(run.match(c.text, 0, SIZE_MAX, 0), c.expected.valid());
    EXPECT_EQ(run.interval, c.expected);
}

INSTANTIATE_TEST_SUITE_P(cases, iterations_test,
                         testing::Values(iterations_case{"longest_run", "123x", 1, SIZE_MAX, true, {0, 3}},
                                         iterations_case{"outside_class", "x12", 1, SIZE_MAX, true, no_match},
                                         iterations_case{"optional_empty", "x12", 0, SIZE_MAX, true, {0, 0}},
                                         iterations_case{"bounded", "12345", 1, 2, true, {0, 2}},
                                         iterations_case{"lazy_stops_at_min", "12345", 2, SIZE_MAX, false, {0, 2}},
                                         iterations_case{"too_few", "12x", 3, SIZE_MAX, true, no_match},
                                         iterations_case{"ends_at_nul", "12", 1, SIZE_MAX, true, {0, 2}}),
                         [](const auto& info) { return std::string(info.param.name); });

TEST(iterations, element_matching_nothing_ends_the_loop_with_success)
{
    basic_iterations<char> optional_digit(
        std::make_shared<basic_iterations<char>>(std::make_shared<basic_cu<char>>('1'), 0, SIZE_MAX, true));
    optional_digit.min_iterations = 5;
    // The inner repetition matches "11" once, then matches nothing.
    ASSERT_TRUE(optional_digit.match("11x", 0, SIZE_MAX, 0));
    EXPECT_EQ(optional_digit.interval, (interval{0, 2}));
}

TEST(iterations, respects_the_position_limit)
{
    basic_cu<char> one('1');
    basic_iterations<char> run(share(one), 1, SIZE_MAX, true);
    ASSERT_TRUE(run.match("1111", 1, 3, 0));
    EXPECT_EQ(run.interval, (interval{1, 3}));
}

}  // namespace
}  // namespace fenrix::parser
