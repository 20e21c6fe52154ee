// The trusted comment of a Minisign signature file and its global signature.
// The minisign program writes them as the two lines after the signature line:
//
//   trusted comment: <text>
//   <Base64 of a 64-byte Ed25519 signature over the signature bytes + text>
//
// The same key that signed the content signs the text, so a verified trusted
// comment says what the signer wrote, e.g. when and for which file name.
#pragma once

#include <string>

#include "signature/minisign.hpp"
#include "stream/basic.hpp"

namespace fenrix::minisign {

struct trusted_comment {
    std::string text;  // what follows "trusted comment: "
    signature_bytes_t global_signature{};
};

// Reads the trusted comment line and the global signature line from the
// current position of `input`, which must be just after the signature line
// (where parse_signature leaves it). Read as the minisign program reads them:
// the comment line must directly follow and start with "trusted comment: ";
// carriage returns at the end of either line are dropped; the global
// signature is canonical Base64 of exactly 64 bytes; the last line may lack
// its line feed. Throws std::runtime_error "Invalid Minisign signature" when
// the lines are missing or malformed.
trusted_comment read_trusted_comment(stream::basic& input);

// True exactly when the global signature verifies with `key` over the 64
// signature bytes of `sig` followed by the comment text.
bool verify_trusted_comment(const signature& sig, const public_key& key, const trusted_comment& comment);

}  // namespace fenrix::minisign
