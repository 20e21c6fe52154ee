// The checks that make a signed download current rather than merely signed:
// the signature file's trusted comment must verify, name the requested file
// and carry a signing time no older than the program's floor and than the
// newest one accepted before for the same request path; the content may be
// bound to a BLAKE2b-512 that the descriptor lists. The signed download runs
// them (when given an object of this class) and the time is recorded only
// after the whole file has verified.
#pragma once

#include <cstdint>
#include <optional>
#include <string>

#include "signature/minisign.hpp"
#include "stream/basic.hpp"
#include "update/descriptor_packages.hpp"

namespace fenrix {

class signature_freshness {
public:
    // `request_path`: the URL path of the file (the record's name; its last
    // segment is the file name). `listed`: the descriptor's line for the
    // file, when it has one; the content must then have its hash.
    signature_freshness(std::string request_path, std::uint64_t not_before, const descriptor_package* listed = nullptr);

    // Right after parse_signature and the key choice: reads the trusted
    // comment from `signature_file` (positioned after the signature line),
    // verifies it with `key` and checks its fields. Throws "Invalid Minisign
    // signature" or the texts of check_trusted_comment_fields.
    void check_signature(stream::basic& signature_file, const minisign::signature& sig,
                         const minisign::public_key& key);

    // Once the content verified against the signature: throws "Package does
    // not match its descriptor" when the descriptor lists the file with
    // another (or an unreadable) hash, otherwise records the signing time.
    void accept(const minisign::content_digest& digest);

private:
    std::string request_path;
    std::uint64_t not_before;
    bool listed = false;
    std::optional<minisign::content_digest> listed_digest;
    std::optional<std::uint64_t> timestamp;
};

}  // namespace fenrix
