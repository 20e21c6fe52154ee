// Reports as JSON, one object per report, for programs that index reports
// (the report server) and so read them with the same code as the reader.
#pragma once

#include <string>

#include "tools/report-reader/report.hpp"

namespace report_reader {

// {"kind": "bxo"|"bxr", "machine": "i386"|"x64", "exceptions": [...], "registers": [[name, value]...],
//  "trace": [...], "modules": [{"name", "time_stamp", "checksum"?, "base"}],
//  "frames": [{"module", "offset", "function"?, "place"?, "snapshot"}]}
// Numbers are plain JSON numbers (addresses and registers of an x64 report
// up to 2^64 - 1); "function" and "place" come from the
// symbols ("function at place").
std::string to_json(const report& r, const symbol_lookup& symbols = {});

// {"error": what}
std::string error_json(const std::string& what);

// A JSON string literal of UTF-8 text; bytes that are not UTF-8 become U+FFFD.
std::string json_string(const std::string& text);

}  // namespace report_reader
