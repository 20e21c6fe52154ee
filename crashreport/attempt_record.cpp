#include "crashreport/attempt_record.hpp"

#include <cstring>

namespace brindlex::stored {

namespace {

constexpr char magic[4] = {'B', 'X', 'P', '1'};
constexpr std::uint32_t flag_bxr_asked = 1;

void put(unsigned char* out, std::uint64_t value, int bytes)
{
    for (int i = 0; i < bytes; ++i)
        out[i] = static_cast<unsigned char>(value >> (8 * i));
}

std::uint64_t get(const unsigned char* in, int bytes)
{
    std::uint64_t value = 0;
    for (int i = bytes - 1; i >= 0; --i)
        value = value << 8 | in[i];
    return value;
}

}  // namespace

void encode(const attempt_record& record, unsigned char (&out)[attempt_record_size])
{
    std::memcpy(out, magic, 4);
    put(out + 4, record.offers, 4);
    put(out + 8, record.bxr_asked ? flag_bxr_asked : 0, 4);
    put(out + 12, record.bxo_size, 8);
    put(out + 20, record.bxo_written, 8);
}

std::optional<attempt_record> decode(const unsigned char* data, std::size_t size)
{
    if (size < attempt_record_size || std::memcmp(data, magic, 4) != 0)
        return std::nullopt;
    attempt_record record;
    record.offers = std::uint32_t(get(data + 4, 4));
    record.bxr_asked = (get(data + 8, 4) & flag_bxr_asked) != 0;
    record.bxo_size = get(data + 12, 8);
    record.bxo_written = get(data + 20, 8);
    return record;
}

}  // namespace brindlex::stored
