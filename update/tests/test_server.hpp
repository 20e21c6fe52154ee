// The nginx update server of the update tests (update_server.sh): its
// address, its files and its access log, which shows what the client asked
// for.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "http/session.hpp"

namespace fenrix::update_testing {

inline constexpr std::uint16_t port = LUMORA_TEST_UPDATE_PORT;
inline constexpr char user_agent[] = "Kestrup/5.14.0-pre.0";

// A file of the served tree, e.g. "/dl/good.bin".
std::string served_file(const std::string& path);

// The current end of the access log, for requests_since.
std::uint64_t log_position();

// Paths (percent-decoded, query included) of the requests logged after
// `position`, as "GET /dl/good.bin 200". Makes a marker request first and
// waits until it is logged, so every earlier request is in the log.
std::vector<std::string> requests_since(std::uint64_t position);

// The requests of `lines` whose path starts with `prefix`.
std::vector<std::string> matching(const std::vector<std::string>& lines, const std::string& prefix);

}  // namespace fenrix::update_testing
