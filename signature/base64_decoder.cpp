#include "signature/base64_decoder.hpp"

#include <cstring>

namespace fenrix {

namespace {

constexpr std::uint8_t padding = 64;
constexpr std::uint8_t skipped = 0xFF;

struct alphabet_table {
    std::uint8_t value[256];

    constexpr alphabet_table() : value()
    {
        for (auto& v : value)
            v = skipped;
        const char* letters = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";
        for (int i = 0; i < 64; ++i)
            value[static_cast<unsigned char>(letters[i])] = std::uint8_t(i);
        value[static_cast<unsigned char>('=')] = padding;
    }
};

constexpr alphabet_table alphabet;

}  // namespace

void base64_decoder::decode(std::vector<std::uint8_t>& output, bool& last, const char* data, std::size_t size)
{
    const void* zero = std::memchr(data, 0, size);
    const std::size_t used = zero ? std::size_t(static_cast<const char*>(zero) - data) : size;
    output.reserve(output.size() + (pending_count + used + 3) / 4 * 3);

    for (std::size_t i = 0; i < used; ++i) {
        const std::uint8_t v = alphabet.value[static_cast<unsigned char>(data[i])];
        if (v == skipped)
            continue;
        pending[pending_count++] = v;
        if (pending_count < 4)
            continue;
        pending_count = 0;
        const auto [a, b, c, d] = pending;
        // Values are cut to 8 bits as emitted, also when a misplaced '='
        // stands in the first two places of a group.
        output.push_back(std::uint8_t(a << 2 | b >> 4));
        if (c == padding) {
            last = true;
            return;
        }
        output.push_back(std::uint8_t(b << 4 | c >> 2));
        if (d == padding) {
            last = true;
            return;
        }
        output.push_back(std::uint8_t(c << 6 | d));
    }
}

}  // namespace fenrix
