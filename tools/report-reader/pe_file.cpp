#include "tools/report-reader/pe_file.hpp"

#include <fstream>

#include "tools/report-reader/report.hpp"

namespace report_reader {

namespace {

std::uint16_t u16_at(const unsigned char* p)
{
    return std::uint16_t(p[0] | p[1] << 8);
}

std::uint32_t u32_at(const unsigned char* p)
{
    return p[0] | p[1] << 8 | p[2] << 16 | std::uint32_t(p[3]) << 24;
}

std::uint64_t u64_at(const unsigned char* p)
{
    return u32_at(p) | std::uint64_t(u32_at(p + 4)) << 32;
}

constexpr std::uint16_t magic_pe32 = 0x10B;
constexpr std::uint16_t magic_pe32_plus = 0x20B;

}  // namespace

pe_file_info read_pe_info(const std::string& program)
{
    std::ifstream file(program, std::ios::binary);
    if (!file)
        throw report_error("cannot open " + program);
    unsigned char dos[64];
    if (!file.read(reinterpret_cast<char*>(dos), sizeof dos) || dos[0] != 'M' || dos[1] != 'Z')
        throw report_error(program + " is not a PE file");
    // Signature, file header (20 bytes), then the optional header up to ImageBase.
    unsigned char headers[24 + 32];
    file.seekg(u32_at(dos + 60));
    if (!file.read(reinterpret_cast<char*>(headers), sizeof headers) || headers[0] != 'P' || headers[1] != 'E' ||
        headers[2] != 0 || headers[3] != 0)
        throw report_error(program + " is not a PE file");
    const unsigned char* optional = headers + 24;
    pe_file_info info{u16_at(headers + 4), u32_at(headers + 8), 0, u32_at(optional + 16), u32_at(optional + 4)};
    // PE32+ drops BaseOfData for an ImageBase of 64 bits.
    switch (u16_at(optional)) {
    case magic_pe32:
        info.image_base = u32_at(optional + 28);
        break;
    case magic_pe32_plus:
        info.image_base = u64_at(optional + 24);
        break;
    default:
        throw report_error(program + " is neither a PE32 nor a PE32+ file");
    }
    return info;
}

}  // namespace report_reader
