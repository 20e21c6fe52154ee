// The network token parsers, wired as the URL grammar wires them.
#include <gtest/gtest.h>

#include <array>
#include <climits>
#include <cstring>
#include <string>

#include "parser/url_grammar.hpp"

namespace fenrix::parser {
namespace {

constexpr interval no_match{1, 0};

// The part of `text` an interval covers, or "<none>".
std::string text_of(const char* text, const interval& part)
{
    return part.valid() ? std::string(text + part.start, part.size()) : "<none>";
}

class tokens : public testing::Test {
protected:
    url_grammar g;
};

TEST_F(tokens, integer_reads_leading_zeros_in_decimal)
{
    ASSERT_TRUE(g.port.match("0080/", 0, SIZE_MAX, 0));
    EXPECT_EQ(g.port.value, 80u);
    EXPECT_EQ(g.port.interval, (interval{0, 4}));
    EXPECT_FALSE(g.port.match("x", 0, SIZE_MAX, 0));
    EXPECT_EQ(g.port.value, 0u);
    EXPECT_FALSE(g.port.match("12", 1, 1, 0));
}

TEST_F(tokens, integer_wraps_instead_of_failing)
{
    // 2^(bits of size_t) + 81, matched whole, leaves 81.
    const std::string text = sizeof(std::size_t) == 8 ? "18446744073709551697" : "4294967377";
    ASSERT_TRUE(g.port.match(text.c_str(), 0, SIZE_MAX, 0));
    EXPECT_EQ(g.port.value, 81u);
    EXPECT_EQ(g.port.interval.end, text.size());
}

struct ipv4_case {
    const char* text;
    bool matches;
    std::size_t end;
    std::uint32_t value;
};

class ipv4_test : public tokens, public testing::WithParamInterface<ipv4_case> {};

TEST_P(ipv4_test, reads_four_components)
{
    const auto& c = GetParam();
    ASSERT_EQ(g.ipv4.match(c.text, 0, SIZE_MAX, 0), c.matches) << c.text;
    EXPECT_EQ(g.ipv4.interval, (c.matches ? interval{0, c.end} : no_match));
    EXPECT_EQ(g.ipv4.value, c.value);
    for (const auto& component : g.ipv4.components)
        EXPECT_EQ(component.valid(), c.matches);
}

INSTANTIATE_TEST_SUITE_P(
    cases, ipv4_test,
    testing::Values(ipv4_case{"192.168.0.1", true, 11, 0xC0A80001}, ipv4_case{"1.2.3", false, 0, 0},
                    ipv4_case{"1.2.3.256", true, 8, 0x01020319}, ipv4_case{"1..2.3.4", false, 0, 0},
                    ipv4_case{"001.02.3.4x", true, 10, 0x01020304}, ipv4_case{"255.255.255.255", true, 15, 0xFFFFFFFF},
                    ipv4_case{"300.1.1.1", false, 0, 0}, ipv4_case{"1.2.3.", false, 0, 0}, ipv4_case{"", false, 0, 0}));

TEST_F(tokens, ipv4_components_cover_their_digits)
{
    const char* text = "10.200.3.44";
    ASSERT_TRUE(g.ipv4.match(text, 0, SIZE_MAX, 0));
    EXPECT_EQ(text_of(text, g.ipv4.components[1]), "200");
    EXPECT_EQ(text_of(text, g.ipv4.components[3]), "44");
}

TEST_F(tokens, ipv4_stops_at_the_position_limit)
{
    ASSERT_TRUE(g.ipv4.match("1.2.3.45", 0, 7, 0));
    EXPECT_EQ(g.ipv4.value, 0x01020304u);
}

// Expected groups as text, "-" for a group that the double colon stands for.
struct ipv6_case {
    const char* text;
    bool matches;
    std::size_t end = 0;
    std::array<unsigned, 8> groups{};
    std::array<const char*, 8> components{};
};

class ipv6_test : public tokens, public testing::WithParamInterface<ipv6_case> {};

TEST_P(ipv6_test, reads_groups_and_expands_compression)
{
    const auto& c = GetParam();
    ASSERT_EQ(g.ipv6.match(c.text, 0, SIZE_MAX, match_case_insensitive), c.matches) << c.text;
    if (!c.matches) {
        EXPECT_EQ(g.ipv6.interval, no_match);
        for (const auto& component : g.ipv6.components)
            EXPECT_FALSE(component.valid());
        return;
    }
    EXPECT_EQ(g.ipv6.interval, (interval{0, c.end}));
    for (std::size_t i = 0; i < 8; ++i) {
        EXPECT_EQ((unsigned{g.ipv6.value[2 * i]} << 8) | g.ipv6.value[2 * i + 1], c.groups[i]) << "group " << i;
        const auto& component = g.ipv6.components[i];
        ASSERT_TRUE(component.valid());
        EXPECT_EQ(component.size() ? text_of(c.text, component) : "-", c.components[i]) << "group " << i;
    }
}

INSTANTIATE_TEST_SUITE_P(
    cases, ipv6_test,
    testing::Values(
        ipv6_case{"::", true, 2, {}, {"-", "-", "-", "-", "-", "-", "-", "-"}},
        ipv6_case{"::1", true, 3, {0, 0, 0, 0, 0, 0, 0, 1}, {"-", "-", "-", "-", "-", "-", "-", "1"}},
        ipv6_case{"1::", true, 3, {1}, {"1", "-", "-", "-", "-", "-", "-", "-"}},
        ipv6_case{"1:2:3:4:5:6:7:8", true, 15, {1, 2, 3, 4, 5, 6, 7, 8}, {"1", "2", "3", "4", "5", "6", "7", "8"}},
        ipv6_case{"FE80:a::Bc:d]",
                  true,
                  12,
                  {0xFE80, 0xA, 0, 0, 0, 0, 0xBC, 0xD},
                  {"FE80", "a", "-", "-", "-", "-", "Bc", "d"}},
        // After a double colon a trailing colon ends the address after it.
        ipv6_case{"1::2:", true, 5, {1, 0, 0, 0, 0, 0, 0, 2}, {"1", "-", "-", "-", "-", "-", "-", "2"}},
        // A second double colon ends the address after its first colon.
        ipv6_case{"1::2::3", true, 5, {1, 0, 0, 0, 0, 0, 0, 2}, {"1", "-", "-", "-", "-", "-", "-", "2"}},
        ipv6_case{"1:2:3:4:5:6:7", false}, ipv6_case{":1::", false}, ipv6_case{"12345::", false},
        ipv6_case{"1:2", false}, ipv6_case{"g::", false}, ipv6_case{"", false}));

TEST_F(tokens, ipv6_scope_follows_the_percent_sign)
{
    const char* text = "fe80::1%12]";
    ASSERT_TRUE(g.ipv6.match(text, 0, SIZE_MAX, 0));
    EXPECT_EQ(g.ipv6.interval, (interval{0, 10}));
    EXPECT_EQ(text_of(text, g.scope_id.interval), "12");
    EXPECT_EQ(g.scope_id.value, 12u);
}

TEST_F(tokens, ipv6_without_scope_leaves_the_scope_unmatched)
{
    ASSERT_TRUE(g.ipv6.match("fe80::1%12", 0, SIZE_MAX, 0));
    ASSERT_TRUE(g.ipv6.match("fe80::1%eth0", 0, SIZE_MAX, 0));
    EXPECT_EQ(g.ipv6.interval, (interval{0, 7}));
    EXPECT_FALSE(g.scope_id.interval.valid());
}

struct dns_case {
    const char* text;
    bool allow_absolute;
    const char* covered;  // nullptr: no match
};

class dns_test : public tokens, public testing::WithParamInterface<dns_case> {};

TEST_P(dns_test, covers_whole_labels)
{
    const auto& c = GetParam();
    g.dns.allow_absolute = c.allow_absolute;
    const bool matched = g.dns.match(c.text, 0, SIZE_MAX, 0);
    ASSERT_EQ(matched, c.covered != nullptr) << c.text;
    EXPECT_EQ(text_of(c.text, g.dns.interval), c.covered ? c.covered : "<none>");
}

INSTANTIATE_TEST_SUITE_P(
    cases, dns_test,
    testing::Values(dns_case{"example.com.", true, "example.com."}, dns_case{"example.com.", false, "example.com"},
                    dns_case{"example.com/x", true, "example.com"}, dns_case{"-abc", true, nullptr},
                    dns_case{"abc-", true, "abc"}, dns_case{"a-b-c.d", false, "a-b-c.d"}, dns_case{"a..b", false, "a"},
                    dns_case{"a..b", true, "a."}, dns_case{"a-.b", true, "a"}, dns_case{"a.-b", false, "a"},
                    dns_case{"host:80", true, "host"}, dns_case{"", true, nullptr}, dns_case{".a", true, nullptr},
                    dns_case{"\xC3\xA9t\xC3\xA9.example", true, nullptr}));

TEST_F(tokens, dns_takes_at_most_127_labels)
{
    std::string name;
    for (int i = 0; i < 130; ++i)
        name += "a.";
    ASSERT_TRUE(g.dns.match(name.c_str(), 0, SIZE_MAX, 0));
    EXPECT_EQ(g.dns.interval.end, 2u * basic_dns_name<char>::max_labels);
}

TEST_F(tokens, dns_respects_the_position_limit)
{
    ASSERT_TRUE(g.dns.match("abc.def", 0, 4, 0));
    EXPECT_EQ(g.dns.interval, (interval{0, 4}));
    g.dns.allow_absolute = false;
    ASSERT_TRUE(g.dns.match("abc.def", 0, 4, 0));
    EXPECT_EQ(g.dns.interval, (interval{0, 3}));
}

TEST_F(tokens, domain_char_with_idn_still_rejects_high_bytes_in_the_classic_locale)
{
    ASSERT_TRUE(g.domain_char.allow_idn);
    for (int byte = 0x80; byte <= 0xFF; ++byte) {
        const char text[] = {static_cast<char>(byte), 0};
        EXPECT_FALSE(g.domain_char.match(text, 0, SIZE_MAX, 0)) << byte;
    }
    ASSERT_TRUE(g.domain_char.match("-", 0, SIZE_MAX, 0));
    EXPECT_FALSE(g.domain_char.is_alnum);
    ASSERT_TRUE(g.domain_char.match("Z", 0, SIZE_MAX, 0));
    EXPECT_TRUE(g.domain_char.is_alnum);
}

// Every printable ASCII character and the classes that admit it.
TEST_F(tokens, url_character_classes)
{
    const std::string username_extra = "-._~%!$&'*+,;=";
    const std::string password_extra = username_extra + "():";
    const std::string path_extra = password_extra + "/@?#";
    for (int c = 1; c < 0x100; ++c) {
        const char text[] = {static_cast<char>(c), 0};
        const bool alnum = std::isalnum(c) && c < 0x80;
        const auto listed = [&](const std::string& extra) {
            return alnum || extra.find(static_cast<char>(c)) != std::string::npos;
        };
        EXPECT_EQ(g.username_char.match(text, 0, SIZE_MAX, 0), listed(username_extra)) << c;
        EXPECT_EQ(g.password_char.match(text, 0, SIZE_MAX, 0), listed(password_extra)) << c;
        EXPECT_EQ(g.path_char.match(text, 0, SIZE_MAX, 0), listed(path_extra)) << c;
    }
    EXPECT_FALSE(g.path_char.match("a", 0, 0, 0));
}

struct path_case {
    const char* text;
    const char* path;
    const char* query = nullptr;
    const char* fragment = nullptr;
    std::size_t end = 0;
};

class path_test : public tokens, public testing::WithParamInterface<path_case> {};

TEST_P(path_test, splits_path_query_and_fragment)
{
    const auto& c = GetParam();
    const bool matched = g.path.match(c.text, 0, SIZE_MAX, 0);
    ASSERT_EQ(matched, c.path != nullptr) << c.text;
    if (!matched) {
        EXPECT_EQ(g.path.interval, no_match);
        EXPECT_FALSE(g.path.path.valid() || g.path.query.valid() || g.path.fragment.valid());
        return;
    }
    EXPECT_EQ(text_of(c.text, g.path.path), c.path);
    EXPECT_EQ(text_of(c.text, g.path.query), c.query);
    EXPECT_EQ(text_of(c.text, g.path.fragment), c.fragment);
    EXPECT_EQ(g.path.interval, (interval{0, c.end}));
}

INSTANTIATE_TEST_SUITE_P(
    cases, path_test,
    testing::Values(path_case{"/a/b?x=1#top", "/a/b", "x=1", "top", 12}, path_case{"?q", "", "q", "<none>", 2},
                    path_case{"#a?b", "", "<none>", "a?b", 4}, path_case{" ", nullptr}, path_case{"", nullptr},
                    path_case{"a/b c", "a/b", "<none>", "<none>", 3}, path_case{"/x?a?b#c#d", "/x", "a?b", "c#d", 10},
                    path_case{"/x?", "/x", "", "<none>", 3}, path_case{"/x#", "/x", "<none>", "", 3},
                    path_case{"/x? y", "/x", "", "<none>", 3}));

TEST_F(tokens, path_results_do_not_leak_into_the_next_match)
{
    ASSERT_TRUE(g.path.match("/a?b#c", 0, SIZE_MAX, 0));
    // The marks at positions 2 and 4 of the earlier text must not count now.
    ASSERT_TRUE(g.path.match("/abcd", 0, 2, 0));
    EXPECT_EQ(g.path.interval, (interval{0, 2}));
    EXPECT_FALSE(g.path.query.valid());
    EXPECT_FALSE(g.path.fragment.valid());
}

}  // namespace
}  // namespace fenrix::parser
