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
// process with crashed_exit_code, never returning.
LONG WINAPI unhandled_exception_filter(EXCEPTION_POINTERS* pointers);

// Adds a line to the trace log that a report carries (the last 10 lines).
// The narrow form converts from the given Windows code page.
void add_trace(const char* text, std::size_t length, UINT code_page);
void add_trace(const wchar_t* text, std::size_t length);

// Whether the reporter is switched on (read once at installation).
bool enabled();

}  // namespace brindlex
