// What a verified trusted comment must say before its file is accepted: the
// name of the file that was asked for, and a signing time neither before the
// program's floor nor before the newest time already accepted for the same
// request path. Portable; the record of accepted times lives elsewhere.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

#include "signature/trusted_comment_fields.hpp"

namespace fenrix {

// `text` with every %XX escape of two hexadecimal digits replaced by its byte;
// other '%' stay as they are.
std::string percent_decoded(std::string_view text);

// The file name a URL path asks for: its last segment, before any query or
// fragment, with percent escapes decoded as the server decodes them.
std::string requested_file_name(std::string_view url_path);

// Throws std::runtime_error
// - "Minisign signature is for another file" when a file field names
//   another file than `file_name`;
// - "Minisign signature is older than this program accepts" when the
//   timestamp lies before `not_before`;
// - "Minisign signature is older than one already accepted" when it lies
//   before `accepted`, or when there is no timestamp although one was
//   accepted for this path before (a file without one could be any age).
// An equal timestamp passes, so the same file can be fetched again.
void check_trusted_comment_fields(const minisign::trusted_comment_fields& fields, std::string_view file_name,
                                  std::uint64_t not_before, std::optional<std::uint64_t> accepted);

}  // namespace fenrix
