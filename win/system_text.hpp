// Registry strings, environment expansion and system message texts. These
// report failure through their result only; none of them throws.
#pragma once

#include <windows.h>

#include <string>

#include "win/wiping_allocator.hpp"

namespace wembra {

// Returns the length ExpandEnvironmentStringsW reported (terminator
// included), or 0 with `out` emptied.
DWORD expand_environment_strings(const wchar_t* text, std::wstring& out);

// Reads a REG_SZ, REG_MULTI_SZ or REG_EXPAND_SZ value (the last expanded);
// returns 0 or a Windows error code (ERROR_INVALID_DATA for other types).
LONG reg_query_string(HKEY key, const wchar_t* value_name, std::wstring& out);
// The same into wiping storage, for values that may be secrets; every
// intermediate copy is wiped too.
LONG reg_query_string(HKEY key, const wchar_t* value_name, wiping_wstring& out);

// FormatMessageW with `flags` plus FORMAT_MESSAGE_ALLOCATE_BUFFER; replaces
// `out` on success and returns the length, 0 on failure (out untouched).
DWORD format_message(DWORD flags, LPCVOID source, DWORD message_id, DWORD language, std::wstring& out,
                     va_list* arguments = nullptr);

}  // namespace wembra
