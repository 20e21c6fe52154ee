// The crash reporter Brindlex: turns an unhandled exception anywhere in the
// process into a report that is uploaded to the report server, or stored in
// the temporary folder for the next start when that fails.
//
// A static initialiser installs it before the entry point: it reads the
// switch HKLM\SOFTWARE\Varnex\Lumora\Brindlex "PrestrezajNapake" (a REG_DWORD
// of 0 turns it off), starts the sender of stored reports and sets the
// top-level exception filter.
#pragma once

#include <windows.h>

#include <cstddef>

namespace brindlex {

// The exit code of a process whose crash the reporter handled.
inline constexpr UINT crashed_exit_code = 0xFFFFFFFF;

// The top-level exception filter. Returns EXCEPTION_CONTINUE_SEARCH when the
// reporter is switched off; otherwise it handles the crash and terminates the
// process with crashed_exit_code, never returning. The one exception to that
// is a continuable exception of GCC's unwinder (below): the filter continues
// it, as the C runtime's own filter would, so that the throw ends in
// std::terminate and the reporter's terminate handler reports it from the
// throwing function.
LONG WINAPI unhandled_exception_filter(EXCEPTION_POINTERS* pointers);

// Whether `record` is raised by GCC's unwinder. On x64 it throws C++
// exceptions as system exceptions with these codes, which guards and the
// filter leave to it; on i386 its exceptions never reach them.
inline bool raised_by_gcc_unwinder(const EXCEPTION_RECORD& record)
{
    // The throw, the unwind and the forced unwind differ in the top byte.
    return (record.ExceptionCode & 0x20FFFFFF) == 0x20474343;
}

// Adds a line to the trace log that a report carries (the last 10 lines).
// The narrow form converts from the given Windows code page.
void add_trace(const char* text, std::size_t length, UINT code_page);
void add_trace(const wchar_t* text, std::size_t length);

// Whether the reporter is switched on (read once at installation).
bool enabled();

// Keeps room on the calling thread's stack for its part of a crash: a stack
// overflow is raised with little of the stack left, and the faulting thread
// still dispatches the exception, runs the filter and starts the crash
// worker (or writes the reports itself). Installation does it for the thread
// that runs the static initialisers, run_guarded for the threads it runs;
// nothing happens while the reporter is switched off.
void keep_stack_for_crash();

}  // namespace brindlex
