#include "win/handle.hpp"

#include <stdexcept>

#include "win/error.hpp"

namespace wembra {

mutex_locker::mutex_locker(HANDLE mutex, DWORD milliseconds) : mutex(mutex)
{
    switch (WaitForSingleObject(mutex, milliseconds)) {
    case WAIT_OBJECT_0:
    case WAIT_ABANDONED:
        return;
    case WAIT_TIMEOUT:
        throw std::runtime_error("timeout");
    default:
        throw win_runtime_error("WaitForSingleObject failed");
    }
}

mutex_locker::~mutex_locker()
{
    ReleaseMutex(mutex);
}

}  // namespace wembra
