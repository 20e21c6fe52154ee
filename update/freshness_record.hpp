// The newest signing time accepted so far for each request path, kept in the
// current user's hive so that an unelevated run reads and extends it:
//
//   HKEY_CURRENT_USER\Software\Varnex\Lumora\Kestrup\AcceptedSignatures
//     value <request path, e.g. "/Lumora/Kestrup/win10-stable.txt">
//       REG_QWORD: the highest trusted-comment timestamp accepted for it
//
// Paths are stored as the client requests them (UTF-8 text as UTF-16).
#pragma once

#include <cstdint>
#include <optional>
#include <string>

namespace fenrix {

inline constexpr wchar_t accepted_signatures_key[] = L"Software\\Varnex\\Lumora\\Kestrup\\AcceptedSignatures";

// The recorded time for `path`; none when the key or value is missing or is
// not an 8-byte REG_QWORD.
std::optional<std::uint64_t> accepted_signature_time(const std::string& path);

// Raises the recorded time for `path` to `timestamp` when it is newer. The
// record only protects later runs: a failure to write it is not an error of
// this run, whose file has verified, so it is ignored.
void record_accepted_signature_time(const std::string& path, std::uint64_t timestamp);

}  // namespace fenrix
