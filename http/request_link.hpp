// The part of a request that WinHTTP's notifications reach: the context
// value of the request handle and the buffer of its reads and writes. It
// outlives the request when the request stopped waiting for WinHTTP (a
// cancel, a stall): a read that WinHTTP has pending on a silent or trickling
// server ends only when the server allows, and until then WinHTTP still
// holds the link and may still fill its buffer.
#pragma once

#include <windows.h>

#include <atomic>
#include <cstddef>

#include "win/handle.hpp"

namespace hopline {

class request_link {
public:
    static constexpr std::size_t buffer_size = 8192;

    request_link() { InitializeCriticalSection(&guard); }
    ~request_link() { DeleteCriticalSection(&guard); }
    request_link(const request_link&) = delete;
    request_link& operator=(const request_link&) = delete;

    // Two holders at most: the request, and WinHTTP from the moment the
    // link is its context value until the handle-closing notification has
    // returned. The last release frees the link.
    void hold() { holders.fetch_add(1); }

    // Called by the notification that returns last once the handle has
    // closed: signals `closed` and lets go of WinHTTP's hold, once.
    void closing_done()
    {
        SetEvent(closed.get());
        if (!closing_released.exchange(true))
            release();
    }
    void release()
    {
        if (holders.fetch_sub(1) == 1)
            delete this;
    }

    // Held while a notification runs the owner's code, and while the owner
    // detaches itself; the same thread may take it again (a notification
    // that WinHTTP delivers inside a call made by another one).
    void lock() { EnterCriticalSection(&guard); }
    void unlock() { LeaveCriticalSection(&guard); }

    // The request, or null once it has gone; read and written under lock().
    void* owner = nullptr;
    // Twice the number of notifications running, plus 1 once the
    // handle-closing notification has arrived.
    std::atomic<unsigned> notifications{0};
    // Manual-reset; set once the handle has closed and no notification of
    // the request is running any more.
    wembra::kernel_handle closed;
    unsigned char buffer[buffer_size] = {};

private:
    CRITICAL_SECTION guard;
    std::atomic<int> holders{1};
    std::atomic<bool> closing_released{false};
};

}  // namespace hopline
