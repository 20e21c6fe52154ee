// Minisign detached signatures: reading the signature file, the trusted key
// record, and verification of a prehashed ('D') signature over a BLAKE2b-512
// hash of the content. Content is hashed as it streams and never held whole.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>

#include <sodium/crypto_generichash.h>

#include "stream/basic.hpp"

namespace fenrix::minisign {

using key_id_t = std::array<std::uint8_t, 8>;
using signature_bytes_t = std::array<std::uint8_t, 64>;
using content_digest = std::array<std::uint8_t, 64>;

// One record of a trusted key table: the key id in the byte order in which
// it stands in signatures, then the Ed25519 public key.
struct public_key {
    key_id_t key_id;
    std::array<std::uint8_t, 32> key;
};
static_assert(sizeof(public_key) == 40, "key records are stored as 40 raw bytes");

// A complete minisign signature file (two comments of at most 1024 bytes,
// the signature and global signature lines) stays well below this; anything
// longer is not worth reading before it is verified.
inline constexpr std::size_t max_signature_file_size = 8192;

// Algorithm codes of the signature line.
inline constexpr std::uint8_t algorithm_legacy = 'd';
inline constexpr std::uint8_t algorithm_prehashed = 'D';

struct signature {
    std::uint8_t algorithm = 0;
    key_id_t key_id{};
    signature_bytes_t signature_bytes{};
};

// Reads a signature file from the current position of `input`: skips empty
// and "untrusted comment:" lines and decodes the first other line, leaving
// `input` just after that line (read_trusted_comment goes on there). Throws
// std::runtime_error "Minisign signature is too short" or
// "not a Minisign signature".
signature parse_signature(stream::basic& input);

// Reads a Minisign public key file (the "Ed" key line after its comment) as
// a key table record. Throws std::runtime_error "not a Minisign public key".
public_key parse_public_key(stream::basic& input);

// The first key of keys[0, count) whose id equals `key_id`, or null.
const public_key* find_key(const public_key* keys, std::size_t count, const key_id_t& key_id);

// The key that verifies `sig`: the first of keys[0, count) with its key id.
// Throws std::runtime_error "Untrusted Minisign key" when there is none and
// "Unsupported Minisign signature" when the signature is not prehashed.
const public_key& select_key(const signature& sig, const public_key* keys, std::size_t count);

// BLAKE2b with 64-byte output and no key, fed block by block.
class content_hash {
public:
    content_hash();
    content_hash(const content_hash&) = delete;
    content_hash& operator=(const content_hash&) = delete;

    void update(const void* data, std::size_t size);
    content_digest finish();

private:
    crypto_generichash_state state;
};

// True exactly when the Ed25519 signature verifies over the 64-byte digest.
bool verify(const signature& sig, const public_key& key, const content_digest& digest);

}  // namespace fenrix::minisign
