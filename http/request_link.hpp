// The part of a request that WinHTTP's notifications reach: the context
// value of the request handle, the handle itself and the blocks of its reads
// and writes. It outlives the request when the request stopped waiting for
// WinHTTP (a cancel, a stall): a read that WinHTTP has pending on a silent or
// trickling server ends only when the server allows, and until then WinHTTP
// still holds the link and may still fill one of its blocks.
#pragma once

#include <windows.h>
#include <winhttp.h>

#include <atomic>
#include <cstddef>

#include "http/http_handle.hpp"
#include "http/request_ring.hpp"

namespace hopline {

class request_link {
public:
    static constexpr std::size_t buffer_size = request_ring::block_size;

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
        ring.closed();
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

    // Closes the request handle, at once unless a notification is inside a
    // WinHTTP call on it (begin_call): then that call closes it when it
    // returns. Under Wine such a call may be a read that fills its buffer
    // synchronously, waiting on the server for as long as it takes; and a
    // handle closed under it could be given to a new request before the call
    // has used the number. Any thread may call it, without the lock.
    void close_handle()
    {
        close_wanted.store(true);
        close_if_idle();
    }

    // The handle for one WinHTTP call made from a notification, or null
    // once the handle is closing; a call that got a handle ends with
    // end_call().
    HINTERNET begin_call()
    {
        calls_in_progress.fetch_add(1);
        if (close_wanted.load()) {
            end_call();
            return nullptr;
        }
        return handle.get();
    }
    void end_call()
    {
        if (calls_in_progress.fetch_sub(1) == 1 && close_wanted.load())
            close_if_idle();
    }

    // The request, or null once it has gone; read and written under lock().
    void* owner = nullptr;
    // The request handle; emptied once, when it is closed.
    wembra::http handle;
    // Twice the number of notifications running, plus 1 once the
    // handle-closing notification has arrived.
    std::atomic<unsigned> notifications{0};
    // Manual-reset; set once the handle has closed and no notification of
    // the request is running any more.
    wembra::kernel_handle closed;
    // The blocks of the body's reads; the first also holds what a POST writes.
    request_ring ring;

private:
    void close_if_idle()
    {
        if (calls_in_progress.load() != 0)
            return;
        // The member is emptied first: the handle-closing notification may
        // come on this very thread, inside WinHttpCloseHandle.
        if (const HINTERNET h = InterlockedExchangePointer(&handle.handle_, nullptr))
            WinHttpCloseHandle(h);
    }

    CRITICAL_SECTION guard;
    // Notifications inside a WinHTTP call on the handle, and whether it is
    // to be closed: each side writes its own before it reads the other's, so
    // at least one of them sees that the handle is to close and idle.
    std::atomic<int> calls_in_progress{0};
    std::atomic<bool> close_wanted{false};
    std::atomic<int> holders{1};
    std::atomic<bool> closing_released{false};
};

}  // namespace hopline
