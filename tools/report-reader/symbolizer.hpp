// Names the function and source line of report frames from a build of the
// program with debug information, through i686-w64-mingw32-addr2line.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "tools/report-reader/report.hpp"

namespace report_reader {

// For frames of the module named `module_name` (compared without regard to
// ASCII case), "function at file:line" from `program` (a PE file with DWARF
// information). Return addresses (every frame but the first) are looked up
// one byte back, inside their call instruction. Throws report_error when the
// program cannot be read or addr2line cannot be run.
symbol_lookup symbolize(const report& r, const std::string& program, const std::string& module_name,
                        const std::string& addr2line = "i686-w64-mingw32-addr2line");

// "function at file:line" from `program` for each of `addresses` (in the
// program's preferred image). Throws as symbolize().
std::vector<std::string> look_up(const std::string& program, const std::vector<std::uint32_t>& addresses,
                                 const std::string& addr2line = "i686-w64-mingw32-addr2line");

// The address to look up for a frame of `r` in a module whose image starts at
// `base`: return addresses (every frame but the first) one byte back, inside
// their call instruction.
std::uint32_t lookup_address(const report& r, std::size_t frame, std::uint32_t base);

// The preferred load address from the PE optional header of `program`.
std::uint32_t image_base(const std::string& program);

}  // namespace report_reader
