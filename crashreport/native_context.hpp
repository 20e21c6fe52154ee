// What differs between the 32-bit (i386) and the 64-bit (x64) program in the
// crash path's view of a processor context: the report variant written, the
// registers of each context group, where a stack walk starts, and the
// context of the function that threw an uncaught C++ exception. The rest of
// the reporter is the same code in both builds (the other platform
// difference, how a guard registers its exception handler, is
// exception_guard.cpp's).
#pragma once

#include <windows.h>

#include <cstddef>
#include <cstdint>

#include "crashreport/report_format.hpp"

namespace brindlex {

// The report variant this build writes; its machine value is also the
// machine type StackWalk64 takes.
const format::machine_layout& native_layout();

// The registers of one of native_layout()'s context groups, in the format's
// order and zero-extended, and the start of its raw bytes (null when the
// group has none).
struct context_group_values {
    std::uint64_t registers[format::max_group_registers];
    std::size_t count = 0;
    const void* area = nullptr;
};
context_group_values group_values(const CONTEXT& context, const format::context_group& group);

// Program counter, frame pointer and stack pointer: where a stack walk starts.
struct walk_start {
    std::uint64_t pc = 0;
    std::uint64_t frame = 0;
    std::uint64_t stack = 0;
};
walk_start walk_start_of(const CONTEXT& context);
void set_walk_start(CONTEXT& context, const walk_start& start);

// The function table and module base routines StackWalk64 walks with: the
// symbol handler's, and on x64, where the symbol handler has not been
// initialised (the fallback path), the unwind data of the process's own
// loaded modules, so that the walk goes beyond the faulting frame there too.
PVOID CALLBACK walk_function_table(HANDLE process, DWORD64 address);
DWORD64 CALLBACK walk_module_base(HANDLE process, DWORD64 address);

// The calling thread's information block, read as NtCurrentTeb does (whose
// inline form GCC 12 takes for an out-of-bounds read): its stack bounds.
const NT_TIB& current_thread_block();

// Sets `context` to the state of the function that called into the C++
// runtime to throw (or rethrow) an exception that nothing caught, its program
// counter one byte back inside the call, so that the address names the
// throwing line even when the call ends the function. Returns false, with the
// context of the caller, when no such call is on the stack.
bool capture_throw_site(CONTEXT& context);

}  // namespace brindlex
