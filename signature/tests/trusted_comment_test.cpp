// The trusted comment and its global signature against files made and
// judged by the minisign program (make_test_data.sh): every variant must get
// minisign's own verdict, and the comment's fields are read as minisign
// writes them.
#include <gtest/gtest.h>

#include <string>

#include "signature/tests/test_data.hpp"
#include "signature/trusted_comment.hpp"
#include "signature/trusted_comment_fields.hpp"

namespace {

using namespace fenrix::minisign;
using namespace fenrix::minisign::test_files;

// Reads and verifies a signature file the way a download checked for
// freshness does: signature line, trusted comment, global signature, content.
bool accepted(const std::string& signature_text, const std::string& content, std::size_t step)
{
    fenrix::stream::testing::text_source source(signature_text, step);
    try {
        const signature sig = parse_signature(source);
        const public_key& key = test_key("trusted.pub");
        const trusted_comment comment = read_trusted_comment(source);
        return verify_trusted_comment(sig, key, comment) && verify(sig, key, digest_of(content));
    } catch (const std::runtime_error& e) {
        EXPECT_STREQ(e.what(), "Invalid Minisign signature");
        return false;
    }
}

class minisign_verdicts : public ::testing::TestWithParam<const char*> {};

TEST_P(minisign_verdicts, same_as_the_minisign_program)
{
    const std::string name = GetParam();
    const std::string verdict = read_test_file("variants/" + name + ".verdict");
    const std::string text = read_test_file("variants/" + name + ".minisig");
    const std::string content = read_test_file("variants/" + name);
    for (std::size_t step : {std::size_t(1), std::size_t(7), SIZE_MAX})
        EXPECT_EQ(accepted(text, content, step) ? "accept\n" : "reject\n", verdict) << "step " << step;
}

INSTANTIATE_TEST_SUITE_P(files, minisign_verdicts,
                         ::testing::Values("as_signed", "custom_comment", "crlf", "no_final_line_feed",
                                           "comment_ends_in_two_cr", "comment_with_trailing_blank", "altered_timestamp",
                                           "altered_file", "prefix_without_blank", "prefix_capital",
                                           "blank_line_before_comment", "no_global_signature", "no_trusted_comment",
                                           "global_short_padding", "global_too_long", "global_with_blank",
                                           "global_first_byte_changed", "comment_of_another_signature",
                                           "extra_line_after", "global_by_other_key"),
                         [](const auto& info) { return std::string(info.param); });

TEST(trusted_comment, default_comment_names_time_and_file)
{
    fenrix::stream::testing::text_source source(read_test_file("default.minisig"));
    parse_signature(source);
    const trusted_comment_fields fields = parse_trusted_comment_fields(read_trusted_comment(source).text);
    ASSERT_TRUE(fields.timestamp.has_value());
    EXPECT_GT(*fields.timestamp, 1600000000u);
    EXPECT_EQ(fields.file, "content.bin");
}

struct fields_case {
    const char* name;
    std::string text;
    std::optional<std::uint64_t> timestamp;
    std::optional<std::string> file;
};

class fields_cases : public ::testing::TestWithParam<fields_case> {};

TEST_P(fields_cases, parsed)
{
    const fields_case& c = GetParam();
    const trusted_comment_fields fields = parse_trusted_comment_fields(c.text);
    EXPECT_EQ(fields.timestamp, c.timestamp);
    EXPECT_EQ(fields.file, c.file);
}

INSTANTIATE_TEST_SUITE_P(
    texts, fields_cases,
    ::testing::Values(
        fields_case{"minisign_default", "timestamp:1796910616\tfile:a.txt\thashed", 1796910616u, "a.txt"},
        fields_case{"custom_text", "Lumora release 7", std::nullopt, std::nullopt},
        fields_case{"empty", "", std::nullopt, std::nullopt},
        fields_case{"order_free", "hashed\tfile:b c.msi\ttimestamp:0", 0u, "b c.msi"},
        fields_case{"first_of_each_counts", "timestamp:5\tfile:x\ttimestamp:9\tfile:y", 5u, "x"},
        fields_case{"malformed_time_is_no_time", "timestamp:12a\tfile:x", std::nullopt, "x"},
        fields_case{"malformed_first_time_hides_a_later_one", "timestamp:\ttimestamp:7", std::nullopt, std::nullopt},
        fields_case{"largest_64_bit_time", "timestamp:18446744073709551615", 18446744073709551615u, std::nullopt},
        fields_case{"time_beyond_64_bits", "timestamp:18446744073709551616", std::nullopt, std::nullopt},
        fields_case{"time_with_sign", "timestamp:+5", std::nullopt, std::nullopt},
        fields_case{"blank_separated_is_one_part", "timestamp:5 file:x", std::nullopt, std::nullopt},
        fields_case{"field_name_case_matters", "Timestamp:5\tFile:x", std::nullopt, std::nullopt},
        fields_case{"empty_file_name", "file:", std::nullopt, ""},
        fields_case{"file_name_keeps_colons", "file:a:b", std::nullopt, "a:b"}),
    [](const auto& info) { return std::string(info.param.name); });

}  // namespace
