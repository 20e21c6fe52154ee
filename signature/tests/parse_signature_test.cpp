#include <gtest/gtest.h>

#include <string>

#include "signature/tests/test_data.hpp"
#include "signature/untrusted_comment.hpp"

namespace {

using namespace fenrix::minisign;
using test_files::parse_text;
using test_files::read_test_file;

// The lines of a minisign signature file, without their line feeds.
struct signature_file {
    std::string comment, data, trusted, global;

    explicit signature_file(const std::string& text)
    {
        std::string* parts[] = {&comment, &data, &trusted, &global};
        std::size_t pos = 0;
        for (std::string* part : parts) {
            const std::size_t eol = text.find('\n', pos);
            *part = text.substr(pos, eol - pos);
            pos = eol + 1;
        }
    }
    std::string join(const char* eol = "\n") const { return comment + eol + data + eol + trusted + eol + global + eol; }
};

void expect_same(const signature& a, const signature& b)
{
    EXPECT_EQ(a.algorithm, b.algorithm);
    EXPECT_EQ(a.key_id, b.key_id);
    EXPECT_EQ(a.signature_bytes, b.signature_bytes);
}

void expect_error(const std::string& text, const char* message)
{
    try {
        parse_text(text);
        ADD_FAILURE() << "no error for: " << text;
    } catch (const std::runtime_error& e) {
        EXPECT_STREQ(e.what(), message);
    }
}

class parse_signature_file : public ::testing::Test {
protected:
    std::string original = read_test_file("content.bin.minisig");
    signature_file file{original};
    signature reference = parse_text(original);
};

TEST_F(parse_signature_file, reads_prehashed_signature_of_minisign)
{
    EXPECT_EQ(reference.algorithm, algorithm_prehashed);
    EXPECT_EQ(reference.key_id, test_files::test_key("trusted.pub").key_id);
}

TEST_F(parse_signature_file, reads_legacy_algorithm)
{
    EXPECT_EQ(parse_text(read_test_file("legacy.minisig")).algorithm, algorithm_legacy);
}

TEST_F(parse_signature_file, crlf_lines_read_as_lf)
{
    expect_same(parse_text(file.join("\r\n")), reference);
}

TEST_F(parse_signature_file, characters_outside_alphabet_are_ignored)
{
    std::string noisy;
    for (std::size_t i = 0; i < file.data.size(); ++i)
        noisy += (i % 7 == 0 ? std::string(" *\t") : std::string()) + file.data[i];
    file.data = noisy;
    expect_same(parse_text(file.join()), reference);
}

TEST_F(parse_signature_file, empty_lines_and_comments_before_data_are_skipped)
{
    expect_same(parse_text("\n\r\n" + file.comment + "\n\nuntrusted comment:x\n" + file.data + "\n"), reference);
}

TEST_F(parse_signature_file, altered_trusted_comment_is_not_read)
{
    file.trusted = "trusted comment: changed by someone else";
    expect_same(parse_text(file.join()), reference);
}

TEST_F(parse_signature_file, blank_before_comment_makes_it_the_signature_line)
{
    expect_error(" " + file.join(), "Minisign signature is too short");
}

TEST_F(parse_signature_file, comment_prefix_is_case_sensitive)
{
    file.comment[0] = 'U';
    expect_error(file.join(), "Minisign signature is too short");
}

TEST_F(parse_signature_file, data_line_without_line_feed_is_not_used)
{
    expect_error(file.comment + "\n" + file.data, "Minisign signature is too short");
}

TEST(parse_signature, only_a_comment_is_too_short)
{
    expect_error("untrusted comment: nothing follows\n", "Minisign signature is too short");
    expect_error("", "Minisign signature is too short");
    expect_error("\n\n\n", "Minisign signature is too short");
}

TEST(parse_signature, wrong_first_byte_is_not_a_signature)
{
    // 75 bytes, the first of which is 'X' (base64 "WA" starts 0x58).
    const std::string line = "WEQ" + std::string(97, 'A') + "\n";
    expect_error(line, "not a Minisign signature");
}

TEST(parse_signature, fields_from_fixed_offsets_and_extra_bytes_ignored)
{
    // 'E' 'D', key id 01..08, signature bytes all 0xFF, then 6 extra bytes.
    std::string raw = "ED";
    for (char c = 1; c <= 8; ++c)
        raw += c;
    raw += std::string(64, '\xFF') + "extra!";
    static const char alphabet[] = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";
    std::string encoded;
    for (std::size_t i = 0; i < raw.size(); i += 3) {
        const unsigned v =
            unsigned(std::uint8_t(raw[i])) << 16 | unsigned(std::uint8_t(raw[i + 1])) << 8 | std::uint8_t(raw[i + 2]);
        for (int shift = 18; shift >= 0; shift -= 6)
            encoded += alphabet[(v >> shift) & 63];
    }
    const signature sig = parse_text(encoded + "\n");
    EXPECT_EQ(sig.algorithm, 'D');
    EXPECT_EQ(sig.key_id, (key_id_t{1, 2, 3, 4, 5, 6, 7, 8}));
    signature_bytes_t all_ff;
    all_ff.fill(0xFF);
    EXPECT_EQ(sig.signature_bytes, all_ff);
}

TEST(untrusted_comment, matches_exact_prefix_only)
{
    untrusted_comment parser;
    const std::string text = "untrusted comment: hello";
    ASSERT_TRUE(parser.match(text.data(), 0, text.size(), 0));
    EXPECT_EQ(parser.interval.start, 0u);
    EXPECT_EQ(parser.interval.end, 18u);

    EXPECT_FALSE(parser.match(text.data(), 0, 17, 0));
    EXPECT_FALSE(parser.interval.valid());
    EXPECT_FALSE(parser.match(text.data(), 1, text.size(), 0));
    const std::string upper = "UNTRUSTED COMMENT: x";
    EXPECT_FALSE(parser.match(upper.data(), 0, upper.size(), fenrix::parser::match_case_insensitive));
    const char with_nul[] = "untrusted\0comment:";
    EXPECT_FALSE(parser.match(with_nul, 0, SIZE_MAX, 0));

    ASSERT_TRUE(parser.match(text.data(), 0, SIZE_MAX, 0));
    parser.invalidate();
    EXPECT_FALSE(parser.interval.valid());
}

}  // namespace
