// The two header fields of a 32-bit PE file that symbols are found by.
#pragma once

#include <cstdint>
#include <string>

namespace report_reader {

struct pe_file_info {
    std::uint32_t time_stamp = 0;   // TimeDateStamp of the file header
    std::uint32_t image_base = 0;   // preferred load address
    std::uint32_t entry_point = 0;  // AddressOfEntryPoint
    std::uint32_t code_size = 0;    // SizeOfCode
};

// Throws report_error when `program` cannot be read or is not a PE32 file.
pe_file_info read_pe_info(const std::string& program);

}  // namespace report_reader
