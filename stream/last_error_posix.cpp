#include "stream/last_error.hpp"

#include <cerrno>

int fenrix::stream::last_os_error()
{
    return errno;
}
