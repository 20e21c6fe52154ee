#include "tools/report-reader/pe_file.hpp"

#include <fstream>

#include "tools/report-reader/report.hpp"

namespace report_reader {

namespace {

std::uint32_t u32_at(const unsigned char* p)
{
    return p[0] | p[1] << 8 | p[2] << 16 | std::uint32_t(p[3]) << 24;
}

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
    if ((optional[0] | optional[1] << 8) != 0x10B)
        throw report_error(program + " is not a PE32 file");
    return {u32_at(headers + 8), u32_at(optional + 28), u32_at(optional + 16), u32_at(optional + 4)};
}

}  // namespace report_reader
