// The exception of a failed WinHTTP call: the name of the failed step, ": "
// and the description of the code, taken from WINHTTP.DLL's own message
// table for WinHTTP codes (the general system table does not hold them).
#pragma once

#include <windows.h>

#include <string>

#include "win/error.hpp"

namespace wembra {

class http_error : public num_runtime_error<DWORD> {
public:
    http_error(DWORD code, const char* text);
    http_error(DWORD code, const std::string& text);
    // Takes the code from GetLastError(), for use right after a failed call.
    explicit http_error(const char* text);

    // The UTF-8 description of `code`: WINHTTP.DLL's table for 12001..12193,
    // else the system table, else "Error %u" / "Error 0x%X". Keeps the
    // thread's last-error value.
    static std::string message(DWORD code, DWORD language = 0);
};

}  // namespace wembra
