// Reading crash reports of the Brindlex format: one zlib stream (a .bxo or
// .bxr file, or the body of an upload) holding tagged little-endian records.
// Every structural rule of the format is checked; malformed input throws
// report_error with the offset of the fault in the decompressed data.
#pragma once

#include <cstdint>
#include <optional>
#include <stdexcept>
#include <string>
#include <vector>

namespace report_reader {

class report_error : public std::runtime_error {
public:
    using std::runtime_error::runtime_error;
};

// Addresses, parameters and register values are 32 or 64 bits wide in a
// report, by its machine; here they are all held in 64 bits.
struct exception_record {
    std::uint32_t code = 0;
    std::uint32_t flags = 0;
    std::uint64_t address = 0;
    std::vector<std::uint64_t> parameters;
};

struct context_block {
    std::uint32_t flags = 0;
    // Present groups only, in the order of the format, as (name, value).
    std::vector<std::pair<std::string, std::uint64_t>> registers;
    std::vector<std::pair<std::string, std::vector<std::uint8_t>>> areas;
};

struct module_record {
    std::u16string name;
    std::uint32_t time_stamp = 0;
    std::optional<std::uint32_t> checksum;  // .bxr only
    std::uint64_t base = 0;
};

struct stack_snapshot {
    std::uint64_t address = 0;
    std::vector<std::uint8_t> bytes;
};

struct frame_record {
    std::size_t module = 0;  // index into report::modules
    std::uint32_t offset = 0;
    std::optional<stack_snapshot> snapshot;  // .bxr: present when size > 0
};

struct report {
    bool detailed = false;      // BXR1
    std::uint16_t machine = 0;  // 0x014C (i386) or 0x8664 (x64)
    std::vector<exception_record> exceptions;
    std::optional<context_block> context;
    std::vector<std::u16string> trace;
    std::vector<module_record> modules;
    std::vector<frame_record> frames;
};

// The most a report may inflate to. The largest real report is the .bxr
// report of a stack overflow: its snapshots lie within the faulting thread's
// stack (2 MiB reserved by MinGW's linker, 1 MiB by others) and every frame
// takes at least 8 bytes of that stack (16 on x64), for a record of at most
// 24 bytes; so the stack part stays below 3 x 2 MiB. The rest is small: at
// most 10 trace lines, 64 exception records and one context. 16 MiB leaves
// room for a thread with a stack of 5 MiB, and a body that inflates to more
// is no report but a zlib bomb: inflating stops there, before parsing could
// multiply it in memory.
inline constexpr std::size_t max_inflated_size = 16u << 20;

// Inflates exactly one zlib stream with nothing after it; at most `limit`
// bytes of output.
std::string inflate_report(const std::string& compressed, std::size_t limit = max_inflated_size);

report parse_report(const std::string& content);

// "EXCEPTION_ACCESS_VIOLATION" and the like; empty for an unknown code.
const char* exception_code_name(std::uint32_t code);

std::string to_utf8(const std::u16string& text);

// "i386" or "x64".
const char* machine_name(std::uint16_t machine);

// Frame index -> "function at file:line" (empty when unknown).
using symbol_lookup = std::vector<std::string>;

// The report as text; `symbols` may be shorter than the frames.
std::string describe(const report& r, const symbol_lookup& symbols = {});

}  // namespace report_reader
