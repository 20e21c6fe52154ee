// Where the update client fetches package descriptors from: a deployment
// value, generated at build time (LUMORA_UPDATE_HOST, LUMORA_UPDATE_PORT in
// update/CMakeLists.txt). The descriptor and its signature travel over plain
// HTTP and rely on their signature alone.
#pragma once

#include <cstdint>

namespace fenrix {

extern const char update_server_host[];
extern const std::uint16_t update_server_port;

}  // namespace fenrix
