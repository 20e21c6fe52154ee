// The table of keys whose signatures the program accepts. Its definition is
// generated at build time from a Minisign public key file (see
// LUMORA_TRUSTED_KEY_FILE in signature/CMakeLists.txt), so a maker builds the
// program with the public half of the key that signs their packages.
#pragma once

#include <cstddef>

#include "signature/minisign.hpp"

namespace fenrix::minisign {

extern const public_key trusted_keys[];
extern const std::size_t trusted_key_count;

}  // namespace fenrix::minisign
