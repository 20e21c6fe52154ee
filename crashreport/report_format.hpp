// The crash report format shared by the writer in the program and by the
// report reader: one zlib stream of tagged little-endian records.
//
//   header      "BXO1" or "BXR1", machine u16 (0x014C i386, 0x8664 x64)
//   exception   .bxo: one exception record
//               .bxr: count u32, count records, context block
//   "DOOP"      optional: length u32, length UTF-16 units (zero-separated lines)
//   stack       per frame, innermost first: "MOD1" before a frame whose module
//               differs from the previous one, then "FUN1" offset u32 and, in a
//               .bxr report, a stack snapshot (size u32, address, bytes)
//
// The machine field selects the variant (machine_layout below): the width of
// addresses (exception address and parameters, module base, snapshot
// address) and the context block's groups and register width. Everything
// else is the same in both variants. crashreport/README.md has the layout
// field by field.
#pragma once

#include <cstddef>
#include <cstdint>
#include <span>

namespace brindlex::format {

inline constexpr char magic_bxo[4] = {'B', 'X', 'O', '1'};
inline constexpr char magic_bxr[4] = {'B', 'X', 'R', '1'};
inline constexpr char tag_trace[4] = {'D', 'O', 'O', 'P'};
inline constexpr char tag_module[4] = {'M', 'O', 'D', '1'};
inline constexpr char tag_frame[4] = {'F', 'U', 'N', '1'};

inline constexpr std::uint16_t machine_i386 = 0x014C;
inline constexpr std::uint16_t machine_amd64 = 0x8664;
inline constexpr std::uint32_t max_exception_parameters = 15;

// The two reports of one crash: the .bxo report is sent first, the .bxr
// report when the server asks for it.
enum report_kind : int { bxo = 0, bxr = 1 };

// One register group of the context block. It is present when ContextFlags
// AND `flag` is not zero (the flags carry the architecture bit, so a context
// the system delivers has every group); then its registers follow, each
// machine_layout::register_bytes wide, and after them `area_bytes` raw bytes.
struct context_group {
    std::uint32_t flag;
    const char* name;
    std::span<const char* const> registers;  // names, in the order written
    const char* area;                        // name of the raw bytes, or null
    std::uint32_t area_bytes;
};

// A variant of the format, selected by the header's machine field.
struct machine_layout {
    std::uint16_t machine;
    const char* name;
    // Exception address and parameters, module base and snapshot address.
    std::uint32_t address_bytes;
    std::uint32_t register_bytes;
    std::span<const context_group> context;  // in the order written
};

// --- i386 (CONTEXT_i386 0x10000 and a group bit) ---------------------------

inline constexpr std::uint32_t context_control = 0x10001;
inline constexpr std::uint32_t context_integer = 0x10002;
inline constexpr std::uint32_t context_segments = 0x10004;
inline constexpr std::uint32_t context_floating_point = 0x10008;
inline constexpr std::uint32_t context_debug_registers = 0x10010;
inline constexpr std::uint32_t context_extended_registers = 0x10020;

namespace i386_names {
inline constexpr const char* integer[] = {"eax", "ebx", "ecx", "edx", "esi", "edi"};
inline constexpr const char* control[] = {"ss", "esp", "ebp", "cs", "eip", "eflags"};
inline constexpr const char* segments[] = {"ds", "es", "fs", "gs"};
// FloatSave without its RegisterArea.
inline constexpr const char* floating_point[] = {"fpu control",       "fpu status",         "fpu tag",
                                                 "fpu error offset",  "fpu error selector", "fpu data offset",
                                                 "fpu data selector", "cr0 npx state"};
inline constexpr const char* debug[] = {"dr0", "dr1", "dr2", "dr3", "dr6", "dr7"};
}  // namespace i386_names

inline constexpr context_group i386_context[] = {
    {context_integer, "integer", i386_names::integer, nullptr, 0},
    {context_control, "control", i386_names::control, nullptr, 0},
    {context_segments, "segments", i386_names::segments, nullptr, 0},
    {context_floating_point, "floating point", i386_names::floating_point, "fpu registers", 80},
    {context_extended_registers, "extended", {}, "extended registers", 512},
    {context_debug_registers, "debug", i386_names::debug, nullptr, 0},
};

inline constexpr machine_layout layout_i386 = {machine_i386, "i386", 4, 4, i386_context};

// --- x64 (CONTEXT_AMD64 0x100000 and a group bit) --------------------------

inline constexpr std::uint32_t amd64_context_control = 0x100001;
inline constexpr std::uint32_t amd64_context_integer = 0x100002;
inline constexpr std::uint32_t amd64_context_segments = 0x100004;
inline constexpr std::uint32_t amd64_context_floating_point = 0x100008;
inline constexpr std::uint32_t amd64_context_debug_registers = 0x100010;

namespace amd64_names {
inline constexpr const char* integer[] = {"rax", "rcx", "rdx", "rbx", "rbp", "rsi", "rdi", "r8",
                                          "r9",  "r10", "r11", "r12", "r13", "r14", "r15"};
inline constexpr const char* control[] = {"ss", "rsp", "cs", "rip", "eflags"};
inline constexpr const char* segments[] = {"ds", "es", "fs", "gs"};
inline constexpr const char* floating_point[] = {"mxcsr"};
inline constexpr const char* debug[] = {"dr0", "dr1", "dr2", "dr3", "dr6", "dr7"};
}  // namespace amd64_names

// Every register is written 64 bits wide, the narrower selectors, EFlags and
// MxCsr zero-extended, so that a reader needs one width per variant. The
// floating-point area is FltSave (XMM_SAVE_AREA32, the FXSAVE layout: the
// x87 state and Xmm0 to Xmm15).
inline constexpr context_group amd64_context[] = {
    {amd64_context_integer, "integer", amd64_names::integer, nullptr, 0},
    {amd64_context_control, "control", amd64_names::control, nullptr, 0},
    {amd64_context_segments, "segments", amd64_names::segments, nullptr, 0},
    {amd64_context_floating_point, "floating point", amd64_names::floating_point, "xmm save area", 512},
    {amd64_context_debug_registers, "debug", amd64_names::debug, nullptr, 0},
};

inline constexpr machine_layout layout_amd64 = {machine_amd64, "x64", 8, 8, amd64_context};

inline constexpr const machine_layout* layouts[] = {&layout_i386, &layout_amd64};

// The variant of a machine field; null for a machine no writer produces.
constexpr const machine_layout* layout_of(std::uint16_t machine)
{
    for (const machine_layout* layout : layouts) {
        if (layout->machine == machine)
            return layout;
    }
    return nullptr;
}

// The most registers any group has: the writer's buffer for one group.
inline constexpr std::size_t max_group_registers = 15;

constexpr bool groups_fit(const machine_layout& layout)
{
    for (const context_group& group : layout.context) {
        if (group.registers.size() > max_group_registers)
            return false;
    }
    return true;
}
static_assert(groups_fit(layout_i386) && groups_fit(layout_amd64));

// The code a C++ exception that nothing caught is reported with (the code
// GCC's own unwinder uses on Windows for a thrown object).
inline constexpr std::uint32_t cxx_exception_code = 0x20474343;

}  // namespace brindlex::format
