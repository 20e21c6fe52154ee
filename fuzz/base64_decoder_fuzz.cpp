// Any bytes, split at an input-chosen point into two calls, decode without
// reading out of bounds and emit at most 3 bytes per 4 input bytes.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <vector>

#include "signature/base64_decoder.hpp"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    if (size == 0)
        return 0;
    const std::size_t split = data[0] % size;
    const char* text = reinterpret_cast<const char*>(data + 1);
    const std::size_t length = size - 1;

    fenrix::base64_decoder decoder;
    std::vector<std::uint8_t> out;
    bool last = false;
    decoder.decode(out, last, text, split > length ? length : split);
    if (!last && split < length)
        decoder.decode(out, last, text + split, length - split);
    if (out.size() > (length + 3) / 4 * 3)
        std::abort();
    return 0;
}
