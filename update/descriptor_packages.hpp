// The package lines of a descriptor: after its three lines, the publishing
// tool lists every package of the channel's folder as
//
//   package <file name> <BLAKE2b-512 of the file, 128 hexadecimal digits>
//
// so the descriptor's signature also vouches for the packages it goes with.
// The descriptor reader stops after the third line; older programs never
// see these lines. Portable.
#pragma once

#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "signature/minisign.hpp"
#include "stream/basic.hpp"

namespace fenrix {

struct descriptor_package {
    std::string name;
    // Empty when the line's hash is not 128 hexadecimal digits: no file can
    // match it.
    std::optional<minisign::content_digest> digest;
};

// Reads the whole descriptor from the current position of `input` (line
// rules of the descriptor: ended by a line feed, trimmed) and returns the
// package lines after the third line, in their order. Other lines are
// ignored.
std::vector<descriptor_package> read_descriptor_packages(stream::basic& input);

// The first entry named `name`, or null when the descriptor does not list it.
const descriptor_package* find_descriptor_package(const std::vector<descriptor_package>& packages,
                                                  std::string_view name);

}  // namespace fenrix
