#include "update/descriptor.hpp"

#include <gtest/gtest.h>

#include <string>

#include "stream/line_reader.hpp"
#include "stream/tests/test_streams.hpp"

namespace {

using fenrix::package_descriptor;

package_descriptor read(const std::string& text, std::size_t step = SIZE_MAX)
{
    fenrix::stream::testing::text_source source(text, step);
    package_descriptor d;
    fenrix::read_descriptor(source, d);
    return d;
}

struct descriptor_case {
    const char* name;
    std::string text;
    std::uint32_t number;
    std::string descriptor_text;
    std::string url;
};

class descriptor_cases : public ::testing::TestWithParam<descriptor_case> {};

TEST_P(descriptor_cases, reads_fields)
{
    const descriptor_case& c = GetParam();
    // Reading does not depend on how the stream hands out its bytes.
    for (std::size_t step : {std::size_t(1), std::size_t(3), SIZE_MAX}) {
        const package_descriptor d = read(c.text, step);
        EXPECT_EQ(d.number, c.number) << "step " << step;
        EXPECT_EQ(d.text, c.descriptor_text) << "step " << step;
        EXPECT_EQ(d.update_url, c.url) << "step " << step;
    }
}

const std::string url = "http://packages.example/Lumora/";

INSTANTIATE_TEST_SUITE_P(
    table, descriptor_cases,
    ::testing::Values(descriptor_case{"lf", "1A2B\nRelease\n" + url + "\n", 6699, "Release", url},
                      descriptor_case{"crlf", "1A2B\r\nRelease\r\n" + url + "\r\n", 6699, "Release", url},
                      descriptor_case{"byte_order_mark",
                                      "\xEF\xBB\xBF"
                                      "1a2b\nRelease\n" +
                                          url + "\n",
                                      6699, "Release", url},
                      descriptor_case{"bom_after_blanks_trimmed",
                                      "  \xEF\xBB\xBF"
                                      "0x1A2B\nx\n" +
                                          url + "\n",
                                      6699, "x", url},
                      descriptor_case{"no_final_line_feed", "1\nRelease\n" + url, 1, "Release", ""},
                      descriptor_case{"blank_second_line_counts", "1\n\n" + url + "\n", 1, "", url},
                      descriptor_case{"lines_trimmed", " \t7 \v\f\nSome text\t\n  " + url + "  \r\n", 7, "Some text",
                                      url},
                      descriptor_case{"later_lines_ignored", "2\nt\n" + url + "\nhttp://other/\nmore\n", 2, "t", url},
                      descriptor_case{"inner_carriage_return_kept", "3\na\rb\n" + url + "\n", 3, "a\rb", url},
                      descriptor_case{"double_carriage_return_trimmed", "3\r\r\nt\n" + url + "\n", 3, "t", url},
                      descriptor_case{"empty_file", "", 0, "", ""},
                      descriptor_case{"only_partial_line", "12", 0, "", ""}),
    [](const auto& info) { return std::string(info.param.name); });

TEST(descriptor, missing_lines_keep_existing_values)
{
    fenrix::stream::testing::text_source source("5\n");
    package_descriptor d{9, "old", "http://old/"};
    fenrix::read_descriptor(source, d);
    EXPECT_EQ(d.number, 5u);
    EXPECT_EQ(d.text, "old");
    EXPECT_EQ(d.update_url, "http://old/");
}

struct number_case {
    const char* text;
    std::uint32_t value;
};

class number_cases : public ::testing::TestWithParam<number_case> {};

TEST_P(number_cases, parses)
{
    EXPECT_EQ(fenrix::parse_descriptor_number(GetParam().text), GetParam().value) << GetParam().text;
}

INSTANTIATE_TEST_SUITE_P(
    table, number_cases,
    ::testing::Values(number_case{"0x1A2B", 6699}, number_case{"1a2b", 6699}, number_case{"1A2Bxyz", 6699},
                      number_case{"0X1a2b", 6699}, number_case{"+1a2b", 6699}, number_case{"FFFFFFFF", 4294967295u},
                      number_case{"100000000", 4294967295u}, number_case{"123456789abcdef", 4294967295u},
                      number_case{"-100000000", 0}, number_case{"-1", 4294967294u}, number_case{"-0", 4294967295u},
                      number_case{"", 0}, number_case{"xyz", 0}, number_case{"0x", 0}, number_case{"0xg", 0},
                      number_case{"-", 0}, number_case{"-x1", 0}, number_case{"+", 0}, number_case{"00000000001", 1}));

TEST(read_line, last_line_without_line_feed_is_not_usable)
{
    fenrix::stream::testing::text_source source("a\r\nb");
    std::string line;
    fenrix::read_line(source, line);
    EXPECT_EQ(source.state, fenrix::stream::ok);
    EXPECT_EQ(line, "a");
    fenrix::read_line(source, line);
    EXPECT_NE(source.state, fenrix::stream::ok);
}

TEST(trim_line, removes_only_line_space)
{
    EXPECT_EQ(fenrix::trim_line(" \t\n\v\f\rx y\r\n\t "), "x y");
    EXPECT_EQ(fenrix::trim_line("\x1f"
                                "x\xA0"),
              "\x1f"
              "x\xA0");
}

}  // namespace
