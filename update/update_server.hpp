// Where the update client fetches package descriptors from: a deployment
// value, generated at build time (LUMORA_UPDATE_HOST, LUMORA_UPDATE_PORT in
// update/CMakeLists.txt). The descriptor and its signature travel over plain
// HTTP and rely on their signature alone.
#pragma once

#include <cstdint>

#include "http/stall_bound.hpp"

namespace fenrix {

extern const char update_server_host[];
extern const std::uint16_t update_server_port;

// The stall bound of the client's transfers: the shipped default, or a
// shorter window in test builds, which must not wait a minute per case.
extern const hopline::stall_bound update_stall_bound;

}  // namespace fenrix
