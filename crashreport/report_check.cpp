#include "crashreport/report_check.hpp"

#include <zlib.h>

#include <cstdint>
#include <cstring>

namespace brindlex {

namespace {

// The machine field of the 64-bit variant of the format.
constexpr std::uint16_t machine_amd64 = 0x8664;
constexpr std::size_t header_size = 6;

class inflater {
public:
    inflater() { ok = inflateInit(&stream) == Z_OK; }
    ~inflater()
    {
        if (ok)
            inflateEnd(&stream);
    }
    inflater(const inflater&) = delete;
    inflater& operator=(const inflater&) = delete;

    z_stream stream{};
    bool ok = false;
};

bool known_header(const unsigned char* header, format::report_kind kind)
{
    const char* magic = kind == format::bxo ? format::magic_bxo : format::magic_bxr;
    if (std::memcmp(header, magic, 4) != 0)
        return false;
    const std::uint16_t machine = std::uint16_t(header[4] | header[5] << 8);
    return machine == format::machine_i386 || machine == machine_amd64;
}

}  // namespace

bool is_complete_report(const unsigned char* data, std::size_t size, format::report_kind kind)
{
    if (size == 0 || size > max_report_size)
        return false;
    inflater z;
    if (!z.ok)
        return false;
    z.stream.next_in = const_cast<unsigned char*>(data);
    z.stream.avail_in = uInt(size);
    unsigned char block[4096];
    unsigned char header[header_size];
    std::size_t content = 0;
    for (;;) {
        z.stream.next_out = block;
        z.stream.avail_out = sizeof block;
        const int result = inflate(&z.stream, Z_NO_FLUSH);
        const std::size_t produced = sizeof block - z.stream.avail_out;
        if (content < header_size)
            std::memcpy(header + content, block, produced < header_size - content ? produced : header_size - content);
        content += produced;
        if (content > max_report_content)
            return false;
        if (result == Z_STREAM_END)
            break;
        // Input used up before the end of the stream (a file cut short), or
        // a data error.
        if (result != Z_OK)
            return false;
    }
    // One stream and nothing after it, as the writer makes them.
    return z.stream.avail_in == 0 && content >= header_size && known_header(header, kind);
}

}  // namespace brindlex
