#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "http/header_map.hpp"
#include "http/request_support.hpp"

namespace {

std::vector<std::string> names(const hopline::header_map& headers)
{
    std::vector<std::string> result;
    for (const auto& entry : headers)
        result.push_back(entry.first);
    return result;
}

TEST(header_map, orders_names_without_regard_to_ascii_case)
{
    const hopline::header_map headers{{"pragma", "1"}, {"Accept-Language", "2"}, {"CACHE-control", "3"}, {"X", "4"}};
    EXPECT_EQ(names(headers), (std::vector<std::string>{"Accept-Language", "CACHE-control", "pragma", "X"}));
}

TEST(header_map, names_that_differ_only_in_case_are_one_key)
{
    hopline::header_map headers{{"Pragma", "no-cache"}};
    headers["PRAGMA"] = "other";
    ASSERT_EQ(headers.size(), 1u);
    EXPECT_EQ(headers.begin()->first, "Pragma");
    EXPECT_EQ(headers.begin()->second, "other");
    EXPECT_EQ(headers.count("pragma"), 1u);
}

TEST(header_map, prefix_sorts_first_and_bytes_compare_unsigned)
{
    // 'z' is 0x7A; the UTF-8 lead byte of a non-ASCII letter is above 0x7F,
    // and only A-Z fold (the capital of a non-ASCII letter stays distinct).
    const hopline::header_map headers{{"X-Ab", ""}, {"x-a", ""}, {"X-\xC5\xA0", ""}, {"X-\xC5\xA1", ""}, {"X-z", ""}};
    EXPECT_EQ(names(headers), (std::vector<std::string>{"x-a", "X-Ab", "X-z", "X-\xC5\xA0", "X-\xC5\xA1"}));
}

TEST(header_map, extra_header_text_joins_lines_in_map_order_without_a_final_line_break)
{
    const hopline::header_map headers{{"Pragma", "no-cache"}, {"Cache-Control", "no-cache"}};
    EXPECT_EQ(hopline::extra_header_text(headers), "Cache-Control: no-cache\r\nPragma: no-cache");
    EXPECT_EQ(hopline::extra_header_text({{"A", "b"}}), "A: b");
    EXPECT_EQ(hopline::extra_header_text({}), "");
}

}  // namespace
