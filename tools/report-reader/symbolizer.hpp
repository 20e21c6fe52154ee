// Names the function and source line of report frames from a build of the
// program with debug information, through the addr2line of the MinGW-w64
// toolchain that made it (i686 for a PE32 file, x86_64 for a PE32+ one).
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "tools/report-reader/pe_file.hpp"
#include "tools/report-reader/report.hpp"

namespace report_reader {

// For frames of the module named `module_name` (compared without regard to
// ASCII case), "function at file:line" from `program` (a PE file with DWARF
// information). Return addresses (every frame but the first) are looked up
// one byte back, inside their call instruction. Throws report_error when the
// program cannot be read, was built for another machine than the report's,
// or addr2line cannot be run.
symbol_lookup symbolize(const report& r, const std::string& program, const std::string& module_name);

// "function at file:line" from `program` for each of `addresses` (in the
// program's preferred image), `program` being built for `machine`. Throws
// as symbolize().
std::vector<std::string> look_up(const std::string& program, std::uint16_t machine,
                                 const std::vector<std::uint64_t>& addresses);

// The address to look up for a frame of `r` in a module whose image starts at
// `base`: return addresses (every frame but the first) one byte back, inside
// their call instruction.
std::uint64_t lookup_address(const report& r, std::size_t frame, std::uint64_t base);

// The addr2line that reads builds for `machine`; throws report_error for a
// machine no toolchain of the project builds for.
std::string addr2line_for(std::uint16_t machine);

}  // namespace report_reader
