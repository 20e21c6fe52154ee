// The symbol store: unstripped builds of the program filed by module name and
// PE time stamp, STORE/<module name in lower case>/<time stamp, 8 hex
// digits>/<file>, so that a report finds its symbols through the name and
// time stamp its module records carry.
#pragma once

#include <cstdint>
#include <optional>
#include <string>

#include "tools/report-reader/report.hpp"
#include "tools/report-reader/symbolizer.hpp"

namespace report_reader {

// The module name a build is loaded under: "crash_host.full.exe" was shipped
// as "crash_host.exe", so ".full" before the extension is dropped.
std::string shipped_module_name(const std::string& program);

// Files `program` under `store` and returns the path filed. Stripping a PE
// file (objcopy --strip-all) gives it a new time stamp, and reports carry the
// shipped file's: so `shipped`, when given, is the stripped file that users
// run, and its name and time stamp are used (it must have the same entry
// point and code size as `program`). Without it, `module_name` (empty: the
// shipped name of `program`) and the time stamp of `program` are used.
// Filing the same build again is harmless; another build under the same name
// and time stamp, or a file without a time stamp, throws report_error. The
// copy appears under its final name only once complete.
std::string file_symbols(const std::string& store, const std::string& program, std::string module_name = {},
                         const std::string& shipped = {});

// The filed build for a module of a report, if any. Names that could leave
// the store folder ("..", separators) find nothing.
std::optional<std::string> find_symbols(const std::string& store, const std::string& module_name,
                                        std::uint32_t time_stamp);

// symbolize() for every module of the reports that has a build in the store,
// with one addr2line run per build for all the reports together. A build
// filed for another machine than a report's gives that report no symbols.
std::vector<symbol_lookup> symbolize_from_store(const std::vector<report>& reports, const std::string& store);

}  // namespace report_reader
