// The fields the minisign program puts in the trusted comment by default:
// "timestamp:<Unix time>\tfile:<file name>\thashed". A comment is split at
// tabs; a part that starts with "timestamp:" or "file:" gives that field.
// Custom comments may hold either, both or neither.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

namespace fenrix::minisign {

struct trusted_comment_fields {
    // Seconds since 1970 when the file was signed; only a value of 1 to 20
    // decimal digits that fits in 64 bits counts, anything else is no field.
    std::optional<std::uint64_t> timestamp;
    // The name of the signed file, as the signer's file system spelled it.
    std::optional<std::string> file;
};

// The first occurrence of each field counts; parts with other names are
// ignored. Never fails: the text is authentic, only its layout may differ.
trusted_comment_fields parse_trusted_comment_fields(std::string_view text);

}  // namespace fenrix::minisign
