// The package descriptor: a small signed text file whose first three lines
// are a hexadecimal number, a text and the URL of the folder that holds the
// channel's packages. Reading never fails for content reasons; missing lines
// leave their fields at the defaults.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

#include "stream/basic.hpp"

namespace fenrix {

// A descriptor is three short lines; the download refuses anything larger
// than this before it is verified, so an attacker on the plain-HTTP path
// cannot make the client buffer without bound.
inline constexpr std::size_t max_descriptor_size = 1024 * 1024;

struct package_descriptor {
    std::uint32_t number = 0;
    std::string text;
    std::string update_url;
};

// The value of a hexadecimal digit (0-9, A-F, a-f), or -1 for any other byte.
int hex_digit_value(char c);

// Removes bytes 0x20 and 0x09 to 0x0D from both ends.
std::string_view trim_line(std::string_view line);

// The descriptor's first-line number: optional sign, optional 0x prefix,
// hexadecimal digits up to the first other byte. Saturates to 4294967295 on
// overflow; with '-' the result is the complement of the magnitude, or 0 on
// overflow.
std::uint32_t parse_descriptor_number(std::string_view line);

// Reads lines from the current position of `input` into `descriptor`,
// leaving fields whose line is missing unchanged.
void read_descriptor(stream::basic& input, package_descriptor& descriptor);

}  // namespace fenrix
