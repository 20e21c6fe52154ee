#include "setup/languages.hpp"

#include <gtest/gtest.h>

namespace {

using fenrix::language_entry;

const language_entry one_language[] = {
    {0x0424, "", L"Sloven\u0161\u010dina"},
    {0, nullptr, nullptr},
};

const language_entry three_languages[] = {
    {0x0424, "", L"Sloven\u0161\u010dina"},
    {0x0409, ".en", L"English (United States)"},
    {0x0809, ".en-gb", L"English (United Kingdom)"},
    {0, nullptr, nullptr},
};

// The same identifier twice: the later record wins.
const language_entry duplicate_language[] = {
    {0x0407, ".de", L"Deutsch"},
    {0x0424, ".sl-1", L"first"},
    {0x0424, ".sl-2", L"second"},
    {0, nullptr, nullptr},
};

struct choice_case {
    const char* name;
    const language_entry* table;
    std::uint16_t user_langid;
    int expected_index;
    std::uint32_t expected_count;
};

class language_choice : public ::testing::TestWithParam<choice_case> {};

TEST_P(language_choice, picks_the_matching_record_or_the_first)
{
    const choice_case& c = GetParam();
    const fenrix::language_choice choice = fenrix::choose_language(c.table, c.user_langid);
    EXPECT_EQ(choice.count, c.expected_count);
    EXPECT_EQ(choice.language, &c.table[c.expected_index]);
}

INSTANTIATE_TEST_SUITE_P(tables, language_choice,
                         ::testing::Values(
                             // This build's table: Slovenian whatever the user's language.
                             choice_case{"single_match", one_language, 0x0424, 0, 1},
                             choice_case{"single_other", one_language, 0x0409, 0, 1},
                             choice_case{"exact_second", three_languages, 0x0409, 1, 3},
                             choice_case{"exact_third", three_languages, 0x0809, 2, 3},
                             choice_case{"none_gives_first", three_languages, 0x0407, 0, 3},
                             // 0x0C09 is English (Australia): same primary language, other sub-language.
                             choice_case{"primary_only_does_not_match", three_languages, 0x0C09, 0, 3},
                             choice_case{"last_match_wins", duplicate_language, 0x0424, 2, 3}),
                         [](const ::testing::TestParamInfo<choice_case>& info) {
                             return std::string(info.param.name);
                         });

TEST(language_choice_empty, an_empty_table_gives_no_language)
{
    const language_entry empty[] = {{0, nullptr, nullptr}};
    const fenrix::language_choice choice = fenrix::choose_language(empty, 0x0424);
    EXPECT_EQ(choice.count, 0u);
    EXPECT_EQ(choice.language, nullptr);
}

}  // namespace
