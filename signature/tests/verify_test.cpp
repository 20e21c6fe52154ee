#include <gtest/gtest.h>

#include <string>

#include "signature/tests/test_data.hpp"

namespace {

using namespace fenrix::minisign;
using namespace fenrix::minisign::test_files;

class verify_content : public ::testing::Test {
protected:
    std::string content = read_test_file("content.bin");
    public_key key = test_key("trusted.pub");
    signature sig = parse_text(read_test_file("content.bin.minisig"));

    bool verifies(const std::string& data) { return verify(sig, key, digest_of(data)); }
};

TEST_F(verify_content, prehashed_signature_of_minisign_verifies)
{
    EXPECT_TRUE(verifies(content));
}

TEST_F(verify_content, altered_content_fails)
{
    std::string flipped = content;
    flipped[content.size() / 2] ^= 0x01;
    EXPECT_FALSE(verifies(flipped));
    EXPECT_FALSE(verifies(content.substr(0, content.size() - 1)));
    EXPECT_FALSE(verifies(content + '\0'));
}

TEST_F(verify_content, other_key_fails)
{
    EXPECT_FALSE(verify(sig, test_key("other.pub"), digest_of(content)));
}

TEST_F(verify_content, hash_fed_in_blocks_equals_whole)
{
    content_hash hash;
    for (std::size_t pos = 0; pos < content.size(); pos += 8192)
        hash.update(content.data() + pos, std::min<std::size_t>(8192, content.size() - pos));
    EXPECT_TRUE(verify(sig, key, hash.finish()));
}

TEST_F(verify_content, a_hash_step_that_fails_is_an_error_not_a_digest)
{
    // The hash refuses to finish twice; its result must not pass for a
    // digest of the content.
    content_hash hash;
    hash.update(content.data(), content.size());
    EXPECT_TRUE(verify(sig, key, hash.finish()));
    try {
        hash.finish();
        FAIL() << "a second finish gave a digest";
    } catch (const std::runtime_error& error) {
        EXPECT_STREQ(error.what(), "BLAKE2b final failed");
    }
}

TEST(verify, empty_content_signature_verifies_empty_hash)
{
    const signature sig = parse_text(read_test_file("empty.bin.minisig"));
    EXPECT_TRUE(verify(sig, test_key("trusted.pub"), digest_of("")));
    EXPECT_FALSE(verify(sig, test_key("trusted.pub"), digest_of("x")));
}

TEST(find_key, first_record_with_equal_id)
{
    const public_key trusted = test_key("trusted.pub");
    const public_key other = test_key("other.pub");
    public_key duplicate = trusted;
    duplicate.key.fill(0);
    const public_key table[] = {other, trusted, duplicate};

    EXPECT_EQ(find_key(table, 3, trusted.key_id), &table[1]);
    EXPECT_EQ(find_key(table, 1, trusted.key_id), nullptr);
    EXPECT_EQ(find_key(table, 0, other.key_id), nullptr);
    EXPECT_EQ(find_key(table, 3, parse_text(read_test_file("other.minisig")).key_id), &table[0]);
}

TEST(parse_public_key, rejects_a_signature_file)
{
    fenrix::stream::testing::text_source source(read_test_file("content.bin.minisig"));
    EXPECT_THROW(parse_public_key(source), std::runtime_error);
}

}  // namespace

namespace {

struct select_case {
    const char* signature_file;
    const char* error;  // null: the trusted key is selected
};

class select_key_cases : public ::testing::TestWithParam<select_case> {};

TEST_P(select_key_cases, checks_key_before_algorithm)
{
    const public_key table[] = {test_key("trusted.pub")};
    const signature sig = parse_text(read_test_file(GetParam().signature_file));
    if (!GetParam().error) {
        EXPECT_EQ(&select_key(sig, table, 1), &table[0]);
        return;
    }
    try {
        select_key(sig, table, 1);
        ADD_FAILURE() << "no error";
    } catch (const std::runtime_error& e) {
        EXPECT_STREQ(e.what(), GetParam().error);
    }
}

INSTANTIATE_TEST_SUITE_P(table, select_key_cases,
                         ::testing::Values(select_case{"content.bin.minisig", nullptr},
                                           select_case{"legacy.minisig", "Unsupported Minisign signature"},
                                           select_case{"other.minisig", "Untrusted Minisign key"}));

TEST(select_key, legacy_signature_by_stranger_is_untrusted)
{
    const public_key table[] = {test_key("other.pub")};
    EXPECT_THROW(
        {
            try {
                select_key(parse_text(read_test_file("legacy.minisig")), table, 1);
            } catch (const std::runtime_error& e) {
                EXPECT_STREQ(e.what(), "Untrusted Minisign key");
                throw;
            }
        },
        std::runtime_error);
}

}  // namespace
