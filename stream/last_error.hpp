// The calling thread's last operating-system error code, as streams report it
// in std::system_error: GetLastError() on Windows, errno elsewhere.
#pragma once

#include <system_error>

namespace fenrix::stream {

int last_os_error();

[[noreturn]] inline void throw_last_os_error(const char* text)
{
    throw std::system_error(last_os_error(), std::system_category(), text);
}

}  // namespace fenrix::stream
