// Fuzzes the report reader: the input is tried as a compressed report (a
// .bxo/.bxr file or an upload body) and, when it is no zlib stream, as the
// decompressed content itself, so that both layers see arbitrary bytes.
// Malformed input must end in report_error, never in a crash.
#include <cstddef>
#include <cstdint>
#include <string>

#include "tools/report-reader/report.hpp"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    const std::string input(reinterpret_cast<const char*>(data), size);
    std::string content;
    try {
        content = report_reader::inflate_report(input, 1u << 20);
    } catch (const report_reader::report_error&) {
        content = input;
    }
    try {
        const report_reader::report r = report_reader::parse_report(content);
        report_reader::describe(r);
    } catch (const report_reader::report_error&) {
    }
    return 0;
}
