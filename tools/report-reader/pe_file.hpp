// The header fields of a PE file (PE32 or PE32+) that symbols are found by.
#pragma once

#include <cstdint>
#include <string>

namespace report_reader {

struct pe_file_info {
    std::uint16_t machine = 0;      // Machine of the file header: 0x014C i386, 0x8664 x64
    std::uint32_t time_stamp = 0;   // TimeDateStamp of the file header
    std::uint64_t image_base = 0;   // preferred load address
    std::uint32_t entry_point = 0;  // AddressOfEntryPoint
    std::uint32_t code_size = 0;    // SizeOfCode
};

// Throws report_error when `program` cannot be read or is neither a PE32 nor
// a PE32+ file.
pe_file_info read_pe_info(const std::string& program);

}  // namespace report_reader
