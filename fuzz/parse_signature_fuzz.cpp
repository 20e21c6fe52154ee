// Any bytes as a signature file: parse_signature either returns or throws
// std::runtime_error, never reads out of bounds.
#include <cstddef>
#include <cstdint>
#include <stdexcept>
#include <string>

#include "signature/minisign.hpp"
#include "stream/memory_file.hpp"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    fenrix::stream::memory_file file;
    file.write(data, size);
    file.seek(0);
    try {
        fenrix::minisign::parse_signature(file);
    } catch (const std::runtime_error&) {
    }
    return 0;
}
