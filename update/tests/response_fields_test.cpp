// The response head as a resumed download reads it.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "update/response_fields.hpp"

namespace {

using fenrix::content_range;
using fenrix::parse_content_range;
using fenrix::response_fields;

response_fields read_head(const std::vector<std::string>& lines)
{
    response_fields fields;
    bool ended = false;
    for (const std::string& line : lines)
        ended = fields.add_line(line + "\r\n");
    EXPECT_TRUE(ended) << "the empty line ends the head";
    return fields;
}

TEST(content_range_field, reads_what_a_range_answer_sends)
{
    EXPECT_EQ(parse_content_range("bytes 100-299/300"), (content_range{100, 299, 300}));
    EXPECT_EQ(parse_content_range(" Bytes 0-0/1 "), (content_range{0, 0, 1}));
    EXPECT_EQ(parse_content_range("bytes 0-18446744073709551613/18446744073709551614"),
              (content_range{0, 18446744073709551613ULL, 18446744073709551614ULL}));
}

TEST(content_range_field, refuses_what_names_no_range_of_a_known_file)
{
    for (const char* value :
         {"bytes */300", "bytes 0-99/*", "bytes 100-99/300", "bytes 100-300/300", "items 0-1/2", "bytes 0-1",
          "bytes -1-2/3", "bytes 0-18446744073709551616/18446744073709551617", "bytes 1 -2/3", "bytes=0-1/2", ""})
        EXPECT_FALSE(parse_content_range(value)) << value;
}

TEST(response_head, status_length_range_and_strong_etag)
{
    const response_fields fields = read_head({"HTTP/1.1 206 Partial Content", "etag: \"5f3e-100000\"",
                                              "Last-Modified: Fri, 11 Dec 2026 05:00:00 GMT", "Content-Length: 524288",
                                              "CONTENT-RANGE: bytes 524288-1048575/1048576", ""});
    EXPECT_EQ(fields.status, 206);
    EXPECT_EQ(fields.content_length, 524288u);
    EXPECT_EQ(fields.range, (content_range{524288, 1048575, 1048576}));
    EXPECT_EQ(fields.validator(), "\"5f3e-100000\"");
}

struct validator_case {
    const char* name;
    std::vector<std::string> lines;
    const char* validator;
};

class validators : public ::testing::TestWithParam<validator_case> {};

TEST_P(validators, the_one_sent_back_in_if_range)
{
    std::vector<std::string> lines{"HTTP/1.1 200 OK"};
    lines.insert(lines.end(), GetParam().lines.begin(), GetParam().lines.end());
    lines.push_back("");
    EXPECT_EQ(read_head(lines).validator(), GetParam().validator);
}

const std::string long_tag = "\"" + std::string(300, 'a') + "\"";

INSTANTIATE_TEST_SUITE_P(head, validators,
                         ::testing::Values(validator_case{"none", {"Content-Length: 5"}, ""},
                                           validator_case{"last_modified_alone",
                                                          {"Last-Modified: Thu, 10 Dec 2026 10:00:00 GMT"},
                                                          "Thu, 10 Dec 2026 10:00:00 GMT"},
                                           // RFC 9110 forbids a weak tag in If-Range: the date is used instead.
                                           validator_case{"weak_etag_gives_the_date",
                                                          {"ETag: W/\"1\"", "Last-Modified: Thu, 10 Dec 2026"},
                                                          "Thu, 10 Dec 2026"},
                                           validator_case{"weak_etag_alone", {"ETag: W/\"1\""}, ""},
                                           validator_case{"first_etag_counts", {"ETag: \"a\"", "ETag: \"b\""}, "\"a\""},
                                           validator_case{"absurd_length", {"ETag: " + long_tag}, ""},
                                           validator_case{"absurd_length_falls_back_to_the_date",
                                                          {"ETag: " + long_tag, "Last-Modified: d"},
                                                          "d"},
                                           validator_case{"control_byte", {std::string("ETag: \"a\x01z\"")}, ""}),
                         [](const auto& info) { return std::string(info.param.name); });

TEST(response_head, unreadable_range_and_length_are_noted_as_such)
{
    const response_fields fields =
        read_head({"HTTP/1.1 206 Partial Content", "Content-Range: bytes 5-1/9", "Content-Length: 12x", ""});
    EXPECT_TRUE(fields.range_sent);
    EXPECT_FALSE(fields.range);
    EXPECT_FALSE(fields.content_length);
}

TEST(response_head, a_second_range_cannot_replace_a_refused_one)
{
    const response_fields fields =
        read_head({"HTTP/1.1 206 Partial Content", "Content-Range: bytes 9-1/9", "Content-Range: bytes 0-8/9", ""});
    EXPECT_FALSE(fields.range);
}

TEST(response_head, a_status_line_without_a_code_leaves_the_status_at_zero)
{
    EXPECT_EQ(read_head({"HTTP/1.1", ""}).status, 0);
    EXPECT_EQ(read_head({"HTTP/1.1 20x OK", ""}).status, 0);
}

}  // namespace
