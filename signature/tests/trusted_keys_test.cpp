#include <gtest/gtest.h>

#include <fstream>
#include <iterator>

#include "signature/trusted_keys.hpp"
#include "stream/tests/test_streams.hpp"

// The generated table holds the key of the public key file it was built from.
TEST(trusted_keys, generated_from_public_key_file)
{
    std::ifstream in(LUMORA_TEST_KEY_FILE, std::ios::binary);
    ASSERT_TRUE(in);
    fenrix::stream::testing::text_source source({std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()});
    const fenrix::minisign::public_key expected = fenrix::minisign::parse_public_key(source);

    ASSERT_EQ(fenrix::minisign::trusted_key_count, 1u);
    EXPECT_EQ(fenrix::minisign::trusted_keys[0].key_id, expected.key_id);
    EXPECT_EQ(fenrix::minisign::trusted_keys[0].key, expected.key);
}
