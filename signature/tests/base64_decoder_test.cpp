#include "signature/base64_decoder.hpp"

#include <gtest/gtest.h>

#include <string>

namespace {

struct decode_case {
    const char* name;
    std::string input;
    std::string expected;
    bool last;
};

std::string decode(const std::string& input, bool& last)
{
    fenrix::base64_decoder decoder;
    std::vector<std::uint8_t> out;
    last = false;
    decoder.decode(out, last, input.data(), input.size());
    return {out.begin(), out.end()};
}

class base64_cases : public ::testing::TestWithParam<decode_case> {};

TEST_P(base64_cases, decodes)
{
    const decode_case& c = GetParam();
    bool last = false;
    EXPECT_EQ(decode(c.input, last), c.expected);
    EXPECT_EQ(last, c.last);
}

INSTANTIATE_TEST_SUITE_P(
    table, base64_cases,
    ::testing::Values(decode_case{"whole_groups", "TWFuTWFu", "ManMan", false},
                      decode_case{"one_padding", "TWE=", "Ma", true}, decode_case{"two_paddings", "TQ==", "M", true},
                      decode_case{"data_after_padding_ignored", "TQ==TWFu", "M", true},
                      decode_case{"foreign_bytes_skipped", " T-W*F\tu\r\n", "Man", false},
                      decode_case{"high_bytes_skipped",
                                  "TW\xC3\xA9"
                                  "Fu",
                                  "Man", false},
                      decode_case{"zero_byte_ends_input", std::string("TWFu\0TWFu", 9), "Man", false},
                      decode_case{"incomplete_group_pending", "TWFuTW", "Man", false},
                      decode_case{"all_alphabet", "+/+/", "\xFB\xFF\xBF", false}, decode_case{"empty", "", "", false}),
    [](const auto& info) { return std::string(info.param.name); });

TEST(base64_decoder, keeps_pending_values_between_calls)
{
    fenrix::base64_decoder decoder;
    std::vector<std::uint8_t> out;
    bool last = false;
    decoder.decode(out, last, "TW", 2);
    EXPECT_TRUE(out.empty());
    decoder.decode(out, last, "FuTQ==", 6);
    EXPECT_EQ(std::string(out.begin(), out.end()), "ManM");
    EXPECT_TRUE(last);
}

}  // namespace
