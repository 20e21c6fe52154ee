#include "crashreport/reply.hpp"

#include <gtest/gtest.h>

#include <string>

namespace {
using namespace brindlex;

struct header_case {
    const char* line;
    bool is_content_type;
    const char* value;
};

TEST(reply_header, content_type_lines)
{
    const header_case cases[] = {
        {"Content-Type: text/plain; charset=UTF-8\r\n", true, "text/plain; charset=UTF-8"},
        {"  content-type  :  text/html \t\r\n", true, "text/html"},
        {"CONTENT-TYPE:x", true, "x"},
        {"Content-Typo: text/plain\r\n", false, ""},
        {"Content-Type text/plain\r\n", false, ""},
        {"Content-Length: 5\r\n", false, ""},
        {"Content-Typ", false, ""},
        {"\r\n", false, ""},
    };
    for (const auto& c : cases) {
        std::string value = "unchanged";
        EXPECT_EQ(read_content_type_line(c.line, std::char_traits<char>::length(c.line), value), c.is_content_type)
            << c.line;
        if (c.is_content_type)
            EXPECT_EQ(value, c.value) << c.line;
        else
            EXPECT_EQ(value, "unchanged") << c.line;
    }
}

TEST(reply_header, value_ends_at_a_zero_byte)
{
    const char line[] = "Content-Type: text/plain\0garbage\r\n";
    std::string value;
    EXPECT_TRUE(read_content_type_line(line, sizeof line - 1, value));
    EXPECT_EQ(value, "text/plain");
}

struct split_case {
    const char* content_type;
    bool plain;
    bool has_charset;
    const char* charset;
    reply_decoding decoding;
};

TEST(reply_content_type, split_and_decoding)
{
    const split_case cases[] = {
        {"text/plain; charset=UTF-8", true, true, "UTF-8", reply_decoding::utf8},
        {"text/plain", true, false, "", reply_decoding::windows_1250},
        {"TEXT/PLAIN;charset = utf-16", true, true, "utf-16", reply_decoding::utf16},
        {"text/plain ;charset=utf-8", false, true, "utf-8", reply_decoding::utf8},
        {"text/plain; charset=\"utf-8\"", true, true, "\"utf-8\"", reply_decoding::utf8},
        {"text/plain; charset=utf-32", true, true, "utf-32", reply_decoding::none},
        {"text/plain; charset=UTF-7", true, true, "UTF-7", reply_decoding::utf7},
        {"text/plain; charset=Windows-1250", true, true, "Windows-1250", reply_decoding::windows_1250},
        {"text/plain; charset=", true, true, "", reply_decoding::utf8},
        {"text/plain; charset", true, false, "", reply_decoding::windows_1250},
        {"text/plain; format=flowed", true, false, "", reply_decoding::windows_1250},
        {"", false, false, "", reply_decoding::windows_1250},
        {"text/html; charset=utf-8", false, true, "utf-8", reply_decoding::utf8},
    };
    for (const auto& c : cases) {
        const media_type media = split_content_type(c.content_type);
        EXPECT_EQ(is_plain_text(media), c.plain) << c.content_type;
        EXPECT_EQ(media.has_charset, c.has_charset) << c.content_type;
        EXPECT_EQ(media.charset, c.charset) << c.content_type;
        EXPECT_EQ(decoding_for(media), c.decoding) << c.content_type;
    }
}

}  // namespace
