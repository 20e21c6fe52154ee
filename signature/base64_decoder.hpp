// Base64 decoding (RFC 4648 alphabet) that tolerates foreign bytes: anything
// outside the alphabet is skipped, so line breaks or blanks inside a
// signature line do not matter. Values that do not complete a group of four
// stay pending for the next call.
#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

namespace fenrix {

class base64_decoder {
public:
    // Appends the bytes decoded from data[0, size) - or up to its first zero
    // byte - to `output`. Sets `last` when a '=' ended the data; the rest of
    // the input is then ignored.
    void decode(std::vector<std::uint8_t>& output, bool& last, const char* data, std::size_t size);

private:
    std::uint8_t pending[4] = {};
    std::size_t pending_count = 0;
};

}  // namespace fenrix
