#include "signature/trusted_comment.hpp"

#include <stdexcept>
#include <string_view>
#include <vector>

#include <sodium/core.h>
#include <sodium/crypto_sign.h>
#include <sodium/utils.h>

#include "stream/line_reader.hpp"

namespace fenrix::minisign {

namespace {

constexpr std::string_view comment_prefix = "trusted comment: ";

[[noreturn]] void invalid()
{
    throw std::runtime_error("Invalid Minisign signature");
}

// One line as the minisign program takes it: every carriage return at its
// end is dropped, and a last line without a line feed still counts.
bool read_minisign_line(stream::basic& input, std::string& line)
{
    read_line(input, line);
    if (input.state != stream::ok && !(input.state == stream::eof && !line.empty()))
        return false;
    while (!line.empty() && line.back() == '\r')
        line.pop_back();
    return true;
}

}  // namespace

trusted_comment read_trusted_comment(stream::basic& input)
{
    trusted_comment result;
    std::string line;
    if (input.state != stream::ok || !read_minisign_line(input, line) || !line.starts_with(comment_prefix))
        invalid();
    result.text.assign(line, comment_prefix.size());

    // Once the comment line was the last one, nothing is left to read.
    if (input.state != stream::ok || !read_minisign_line(input, line))
        invalid();
    std::size_t decoded_size = 0;
    if (sodium_base642bin(result.global_signature.data(), result.global_signature.size(), line.data(), line.size(),
                          nullptr, &decoded_size, nullptr, sodium_base64_VARIANT_ORIGINAL) != 0 ||
        decoded_size != result.global_signature.size())
        invalid();
    return result;
}

bool verify_trusted_comment(const signature& sig, const public_key& key, const trusted_comment& comment)
{
    if (sodium_init() < 0)
        throw std::runtime_error("sodium_init failed");
    std::vector<unsigned char> message(sig.signature_bytes.begin(), sig.signature_bytes.end());
    message.insert(message.end(), comment.text.begin(), comment.text.end());
    return crypto_sign_verify_detached(comment.global_signature.data(), message.data(), message.size(),
                                       key.key.data()) == 0;
}

}  // namespace fenrix::minisign
