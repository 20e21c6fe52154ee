// The crash report format shared by the writer in the program and by the
// report reader: one zlib stream of tagged little-endian records.
//
//   header      "BXO1" or "BXR1", machine u16 (0x014C)
//   exception   .bxo: one exception record
//               .bxr: count u32, count records, context block
//   "DOOP"      optional: length u32, length UTF-16 units (zero-separated lines)
//   stack       per frame, innermost first: "MOD1" before a frame whose module
//               differs from the previous one, then "FUN1" offset u32 and, in a
//               .bxr report, a stack snapshot (size u32, address u32, bytes)
#pragma once

#include <cstdint>

namespace brindlex::format {

inline constexpr char magic_bxo[4] = {'B', 'X', 'O', '1'};
inline constexpr char magic_bxr[4] = {'B', 'X', 'R', '1'};
inline constexpr char tag_trace[4] = {'D', 'O', 'O', 'P'};
inline constexpr char tag_module[4] = {'M', 'O', 'D', '1'};
inline constexpr char tag_frame[4] = {'F', 'U', 'N', '1'};

inline constexpr std::uint16_t machine_i386 = 0x014C;
inline constexpr std::uint32_t max_exception_parameters = 15;

// The two reports of one crash: the .bxo report is sent first, the .bxr
// report when the server asks for it.
enum report_kind : int { bxo = 0, bxr = 1 };

// The x86 CONTEXT flags of the register groups (CONTEXT_i386 and a group bit).
inline constexpr std::uint32_t context_control = 0x10001;
inline constexpr std::uint32_t context_integer = 0x10002;
inline constexpr std::uint32_t context_segments = 0x10004;
inline constexpr std::uint32_t context_floating_point = 0x10008;
inline constexpr std::uint32_t context_debug_registers = 0x10010;
inline constexpr std::uint32_t context_extended_registers = 0x10020;

// Context groups in the order they are written; a group is present when
// ContextFlags AND its constant is not zero.
struct context_group {
    std::uint32_t flag;
    const char* name;
    std::uint32_t registers;    // u32 fields
    std::uint32_t extra_bytes;  // raw bytes after them
};

inline constexpr context_group context_groups[] = {
    {context_integer, "integer", 6, 0},                 // Eax Ebx Ecx Edx Esi Edi
    {context_control, "control", 6, 0},                 // SegSs Esp Ebp SegCs Eip EFlags
    {context_segments, "segments", 4, 0},               // SegDs SegEs SegFs SegGs
    {context_floating_point, "floating point", 8, 80},  // FloatSave words, RegisterArea
    {context_extended_registers, "extended", 0, 512},   // ExtendedRegisters
    {context_debug_registers, "debug", 6, 0},           // Dr0 Dr1 Dr2 Dr3 Dr6 Dr7
};

// The code a C++ exception that nothing caught is reported with (the code
// GCC's own unwinder uses on Windows for a thrown object).
inline constexpr std::uint32_t cxx_exception_code = 0x20474343;

}  // namespace brindlex::format
