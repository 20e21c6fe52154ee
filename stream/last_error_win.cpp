#include "stream/last_error.hpp"

#include <windows.h>

int fenrix::stream::last_os_error()
{
    return int(GetLastError());
}
