// The record kept beside the bytes of a package download that did not
// verify, so that the next run may continue it: the URL they came from, the
// server's validator for them, the file's whole length and the signature
// file they are to verify against. The next run continues only when all of
// it matches; a record that does not read back exactly is no record.
// Portable: the bytes of the record, not where they are kept.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

namespace fenrix {

struct resume_record {
    std::string url;
    std::string validator;
    std::uint64_t total = 0;
    std::string signature;
    friend bool operator==(const resume_record&, const resume_record&) = default;
};

// Limits of the fields; a record beyond them is never written nor read.
inline constexpr std::size_t max_record_url_size = 4096;
inline constexpr std::size_t max_resume_record_size = 16384;

// The record as it is stored: a text head naming each field with its length,
// the fields' bytes, and a BLAKE2b-512 of all that before it, so that a
// record cut short or overwritten in part does not read as valid. Throws
// std::invalid_argument when a field is beyond its limit.
std::string resume_record_bytes(const resume_record& record);

// The record stored in `bytes`; nothing when they are not exactly a record
// (cut short, altered, with bytes after it, a field beyond its limit).
std::optional<resume_record> read_resume_record(std::string_view bytes);

}  // namespace fenrix
