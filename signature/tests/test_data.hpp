// Files made by the minisign program for the signature tests
// (tests/make_test_data.sh), and small helpers around them.
#pragma once

#include <fstream>
#include <iterator>
#include <stdexcept>
#include <string>

#include "signature/minisign.hpp"
#include "stream/tests/test_streams.hpp"

namespace fenrix::minisign::test_files {

inline std::string read_test_file(const std::string& name)
{
    std::ifstream in(std::string(LUMORA_SIGNATURE_TEST_DATA) + "/" + name, std::ios::binary);
    if (!in)
        throw std::runtime_error("missing test file " + name);
    return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

inline signature parse_text(const std::string& text)
{
    stream::testing::text_source source(text);
    return parse_signature(source);
}

inline public_key test_key(const std::string& name)
{
    stream::testing::text_source source(read_test_file(name));
    return parse_public_key(source);
}

inline content_digest digest_of(const std::string& content)
{
    content_hash hash;
    hash.update(content.data(), content.size());
    return hash.finish();
}

}  // namespace fenrix::minisign::test_files
