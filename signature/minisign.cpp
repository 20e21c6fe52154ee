#include "signature/minisign.hpp"

#include <algorithm>
#include <cstring>
#include <stdexcept>
#include <string>
#include <vector>

#include <sodium/core.h>
#include <sodium/crypto_sign.h>

#include "signature/base64_decoder.hpp"
#include "signature/untrusted_comment.hpp"
#include "stream/line_reader.hpp"

namespace fenrix::minisign {

namespace {

constexpr std::size_t signature_line_size = 74;  // 'E', algorithm, key id, signature

// sodium_init picks the fastest BLAKE2b and Ed25519 code for this processor;
// without it the portable reference code runs. It is idempotent and
// thread-safe, so every hash makes sure of it.
void ensure_sodium()
{
    static const int initialised = sodium_init();
    if (initialised < 0)
        throw std::runtime_error("sodium_init failed");
}

// Decodes the first line of a Minisign file that is neither empty nor an
// untrusted comment; empty when there is none.
std::vector<std::uint8_t> decode_first_data_line(stream::basic& input)
{
    untrusted_comment comment;
    std::vector<std::uint8_t> decoded;
    std::string line;
    for (;;) {
        read_line(input, line);
        if (input.state != stream::ok)
            break;
        if (line.empty() || comment.match(line.data(), 0, line.size(), 0))
            continue;
        base64_decoder decoder;
        bool last = false;
        decoder.decode(decoded, last, line.data(), line.size());
        break;
    }
    return decoded;
}

}  // namespace

signature parse_signature(stream::basic& input)
{
    const std::vector<std::uint8_t> decoded = decode_first_data_line(input);
    if (decoded.size() < signature_line_size)
        throw std::runtime_error("Minisign signature is too short");
    if (decoded[0] != 'E')
        throw std::runtime_error("not a Minisign signature");

    signature result;
    result.algorithm = decoded[1];
    std::copy_n(decoded.begin() + 2, result.key_id.size(), result.key_id.begin());
    std::copy_n(decoded.begin() + 10, result.signature_bytes.size(), result.signature_bytes.begin());
    return result;
}

public_key parse_public_key(stream::basic& input)
{
    const std::vector<std::uint8_t> decoded = decode_first_data_line(input);
    public_key result;
    if (decoded.size() != 2 + sizeof result || decoded[0] != 'E' || decoded[1] != 'd')
        throw std::runtime_error("not a Minisign public key");
    std::copy_n(decoded.begin() + 2, result.key_id.size(), result.key_id.begin());
    std::copy_n(decoded.begin() + 10, result.key.size(), result.key.begin());
    return result;
}

const public_key* find_key(const public_key* keys, std::size_t count, const key_id_t& key_id)
{
    const public_key* found = std::find_if(keys, keys + count, [&](const public_key& k) { return k.key_id == key_id; });
    return found == keys + count ? nullptr : found;
}

const public_key& select_key(const signature& sig, const public_key* keys, std::size_t count)
{
    // The key is looked up first, so a signature by a stranger is reported as
    // such whatever its algorithm.
    const public_key* key = find_key(keys, count, sig.key_id);
    if (!key)
        throw std::runtime_error("Untrusted Minisign key");
    if (sig.algorithm != algorithm_prehashed)
        throw std::runtime_error("Unsupported Minisign signature");
    return *key;
}

namespace {

// A digest from a failed step would be compared as if it were the
// content's: every step's result counts.
void check_hash_step(int result, const char* step)
{
    if (result != 0)
        throw std::runtime_error(std::string("BLAKE2b ") + step + " failed");
}

}  // namespace

content_hash::content_hash()
{
    ensure_sodium();
    check_hash_step(crypto_generichash_init(&state, nullptr, 0, crypto_generichash_BYTES_MAX), "init");
}

void content_hash::update(const void* data, std::size_t size)
{
    check_hash_step(crypto_generichash_update(&state, static_cast<const unsigned char*>(data), size), "update");
}

content_digest content_hash::finish()
{
    content_digest digest;
    check_hash_step(crypto_generichash_final(&state, digest.data(), digest.size()), "final");
    return digest;
}

bool verify(const signature& sig, const public_key& key, const content_digest& digest)
{
    ensure_sodium();
    return crypto_sign_verify_detached(sig.signature_bytes.data(), digest.data(), digest.size(), key.key.data()) == 0;
}

}  // namespace fenrix::minisign
