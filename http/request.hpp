// One HTTP exchange on a connection, made in WinHTTP's asynchronous mode and
// seen by the caller as one blocking call, send(). WinHTTP reports on its own
// threads through status_callback; the response flows out through three
// callables bound at construction:
//   on_header(const char* line, std::size_t length)  each raw header line with its CR LF
//   on_length(std::uint32_t content_length)           once, when a Content-Length of 32 bits is announced
//   on_data(const unsigned char* data, std::uint32_t count)  each body block, in order
// on_header and on_length run on WinHTTP's threads. on_data, and the progress
// report of each block, run on the requesting thread inside send(), while
// WinHTTP reads the next blocks ahead into the link's ring (request_ring.hpp):
// what the caller does with a block no longer holds up the network.
// Any of them may throw; the first failure of a request ends it and is thrown
// again by send() on the requesting thread. While it waits, that thread ends
// the request itself when the user cancels or the transfer stalls (see
// watch()): nothing else would, while WinHTTP waits for a silent server.
#pragma once

#include <windows.h>
#include <winhttp.h>

#include <atomic>
#include <cstdint>
#include <exception>
#include <limits>
#include <stdexcept>
#include <string>

#include "base/progress.hpp"
#include "http/header_map.hpp"
#include "http/http_error.hpp"
#include "http/http_handle.hpp"
#include "http/request_link.hpp"
#include "http/request_support.hpp"
#include "http/session.hpp"
#include "parser/url.hpp"
#include "win/error.hpp"
#include "win/handle.hpp"

namespace hopline {

// How often a thread that waits on a request (or between requests) looks at
// the cancel flag and the clock: a Cancel click takes effect within this time.
inline constexpr DWORD watch_interval_ms = 50;

template <class OnHeader, class OnLength, class OnData, class T>
class request {
public:
    request(const request&) = delete;
    request& operator=(const request&) = delete;

    // A request still open has its handle closed here. No notification runs
    // this object's code after the destructor; one still to come (WinHTTP
    // may hold a read on a silent server long after) reaches only the link.
    ~request()
    {
        release_handle();
        link->lock();
        link->owner = nullptr;
        link->unlock();
        link->release();
    }

    // Sends the prepared request and returns when WinHTTP has closed its
    // handle, or soon after the request failed; rethrows the first failure
    // raised on the way.
    void send() { send_request(0); }

    // Registered with WinHTTP for the request handle; the context value is
    // the request's link.
    static void CALLBACK status_callback(HINTERNET, DWORD_PTR context, DWORD code, LPVOID data, DWORD length)
    {
        if (!context)
            return;
        request_link* const link = reinterpret_cast<request_link*>(context);
        link->notifications.fetch_add(2);
        if (code == WINHTTP_CALLBACK_STATUS_HANDLE_CLOSING)
            link->notifications.fetch_or(closing_seen);
        link->lock();
        // Once a request has failed, nothing more of it reaches the
        // callables; once it has gone, nothing at all.
        if (request* const self = static_cast<request*>(link->owner)) {
            if (code == WINHTTP_CALLBACK_STATUS_HANDLE_CLOSING || !self->failed) {
                try {
                    self->callback(code, data, length);
                } catch (...) {
                    self->fail(std::current_exception());
                }
            }
        }
        link->unlock();
        // WinHTTP may deliver the handle-closing notification while another
        // notification of the request is still running (a read that
        // completes inside WinHttpReadData, say). `closed` is signalled by
        // whichever of them returns last, which also lets go of WinHTTP's
        // hold on the link.
        if (link->notifications.fetch_sub(2) == (2 | closing_seen))
            link->closing_done();
    }

    request_link* const link = new request_link;
    std::uint16_t status = 0;
    hopline::connection* connection;
    // Owned by the link, which closes it (see request_link::close_handle).
    wembra::http& handle = link->handle;
    // The first block of the link's ring, where a POST assembles its chunks.
    unsigned char* const buffer = link->ring.front();
    // Written under the link's lock.
    std::exception_ptr error;
    wembra::kernel_handle& closed = link->closed;
    OnHeader& on_header;
    OnLength& on_length;
    OnData& on_data;
    fenrix::progress<T>* progress;
    T content_length = 0;
    T received = 0;
    // The Content-Length in full, and the body bytes that have arrived.
    bool length_announced = false;
    std::uint64_t announced_length = 0;
    std::uint64_t body_received = 0;

protected:
    request(hopline::connection& connection, OnHeader& on_header, OnLength& on_length, OnData& on_data,
            fenrix::progress<T>* progress)
        : connection(&connection), on_header(on_header), on_length(on_length), on_data(on_data), progress(progress)
    {
        link->owner = this;
    }

    void prepare(const wchar_t* verb, const url& target, const header_map& headers, const char* const* accept_types,
                 const char* proxy_user, const char* proxy_password)
    {
        handle.attach(open_request(connection->handle.get(), verb, target, accept_types));
        if (!handle)
            throw wembra::http_error("WinHttpOpenRequest failed");
        arm();
        set_server_credentials(handle.get(), target);
        set_proxy_credentials(handle.get(), proxy_user, proxy_password);
        add_extra_headers(handle.get(), headers);
    }

    virtual void callback(DWORD code, LPVOID data, DWORD length)
    {
        // Once the body flows, the requesting thread polls, block by block
        // and at every look (watch()).
        if (code != WINHTTP_CALLBACK_STATUS_HANDLE_CLOSING && !body_started)
            poll_cancel();
        switch (code) {
        case WINHTTP_CALLBACK_STATUS_SECURE_FAILURE:
            throw std::runtime_error(secure_failure_text(*static_cast<const DWORD*>(data)));
        case WINHTTP_CALLBACK_STATUS_HEADERS_AVAILABLE:
            headers_available();
            break;
        case WINHTTP_CALLBACK_STATUS_READ_COMPLETE:
            read_complete(length);
            break;
        case WINHTTP_CALLBACK_STATUS_REQUEST_ERROR: {
            const auto* result = static_cast<const WINHTTP_ASYNC_RESULT*>(data);
            throw wembra::http_error(result->dwError, request_error_text(result->dwResult));
        }
        case WINHTTP_CALLBACK_STATUS_SENDREQUEST_COMPLETE:
            receive_response();
            break;
        case WINHTTP_CALLBACK_STATUS_RESPONSE_RECEIVED:
            // Bytes off the socket, before any read completes: Wine fills a
            // whole read buffer before it completes the read.
            if (data && length >= sizeof(DWORD))
                received_on_wire.fetch_add(*static_cast<const DWORD*>(data));
            break;
        default:
            // The handle-closing notification is counted by status_callback,
            // which signals `closed`.
            break;
        }
    }

    // `total_length` is what WinHTTP is told of the body to come.
    void send_request(DWORD total_length)
    {
        while (!WinHttpSendRequest(handle.get(), WINHTTP_NO_ADDITIONAL_HEADERS, 0, WINHTTP_NO_REQUEST_DATA, 0,
                                   total_length, reinterpret_cast<DWORD_PTR>(link))) {
            const DWORD code = GetLastError();
            if (code == ERROR_WINHTTP_RESEND_REQUEST)
                continue;
            // Notifications may already be on their way: they must have
            // ended before the caller may destroy the request.
            release_handle();
            WaitForSingleObject(closed.get(), INFINITE);
            throw wembra::http_error(code, "WinHttpSendRequest failed");
        }
        watch();
        link->lock();
        const std::exception_ptr failure = error;
        link->unlock();
        if (failure)
            std::rethrow_exception(failure);
    }

    // Ends the request with `failure` unless it has already failed: the
    // first failure is the one reported; a later one (WinHTTP follows a
    // secure failure with a request error) never replaces it. Any thread may
    // call it. Closing the handle makes Windows abandon a pending read; Wine
    // lets it run on, and watch() then stops waiting for it.
    void fail(std::exception_ptr failure)
    {
        link->lock();
        if (!failed.exchange(true))
            error = std::move(failure);
        link->unlock();
        release_handle();
    }

    // Counts bytes moved in either direction for the stall bound.
    void count_transferred(std::uint64_t count) { transferred.fetch_add(count); }

    void poll_cancel()
    {
        if (cancel_requested())
            throw fenrix::user_cancelled("operation cancelled");
    }

    // Asks the progress object whether to cancel, unless the request has
    // failed or has been told so already. Notifications and the requesting
    // thread ask; the question is put one at a time, so that the first yes
    // is also the last answer asked for.
    bool cancel_requested()
    {
        if (!progress || failed || cancel_seen)
            return false;
        AcquireSRWLockExclusive(&poll_guard);
        const bool answer = !failed && !cancel_seen && progress->cancel();
        if (answer)
            cancel_seen = true;
        ReleaseSRWLockExclusive(&poll_guard);
        return answer;
    }

    void receive_response()
    {
        call_unlocked([](HINTERNET h) { return WinHttpReceiveResponse(h, nullptr); }, "WinHttpReceiveResponse failed");
    }

    // Closes the request handle (once, whoever asks first); WinHTTP answers
    // with the handle-closing notification.
    void release_handle() { link->close_handle(); }

    // Makes one WinHTTP call on the request handle from a notification,
    // call(handle) -> BOOL, without the link's lock: WinHTTP may complete the
    // call synchronously and deliver its completion inside it, and Wine may
    // wait on the server there for as long as a read takes to fill, while
    // the requesting thread must still be able to end the request. Nothing
    // happens when the handle is closing; when the request went away while
    // the lock was free, nothing of it is touched any more. Otherwise a
    // failed call throws `what`.
    template <class Call>
    void call_unlocked(Call call, const char* what)
    {
        request_link* const own_link = link;
        const HINTERNET h = own_link->begin_call();
        if (!h)
            return;
        own_link->unlock();
        const BOOL done = call(h);
        const DWORD code = done ? 0 : GetLastError();
        own_link->lock();
        own_link->end_call();
        if (own_link->owner == this && !done)
            throw wembra::http_error(code, what);
    }

private:
    static constexpr unsigned closing_seen = 1;
    // How long a failed request waits for WinHTTP to close its handle before
    // it leaves the rest to the link: Wine, unlike Windows, lets a pending
    // read run on after the handle has been closed.
    static constexpr DWORD abandon_after_ms = 200;

    // Takes the body's blocks as they arrive until the handle has closed, or
    // waits a little while after a failure. At every look: a cancel ends the
    // request at once, and so does a window of the session's stall bound in
    // which fewer bytes than its minimum moved (the first window starts with
    // the send).
    void watch()
    {
        const stall_bound bound = connection->session->bound;
        DWORD last_look = GetTickCount();
        DWORD window_start = last_look;
        std::uint64_t moved_before = transferred.load();
        std::uint64_t on_wire_before = received_on_wire.load();
        bool failure_seen = false;
        DWORD failure_time = 0;
        for (;;) {
            // Every block is in the ring before the handle-closing
            // notification returns, so none is left once it has.
            const bool handle_closed = link->ring.wait(watch_interval_ms);
            take_blocks();
            if (handle_closed)
                return;
            if (GetTickCount() - last_look < watch_interval_ms)
                continue;
            last_look = GetTickCount();
            if (failed) {
                if (!failure_seen) {
                    failure_seen = true;
                    failure_time = GetTickCount();
                } else if (GetTickCount() - failure_time >= abandon_after_ms) {
                    return;
                }
                continue;
            }
            if (cancel_requested()) {
                fail(std::make_exception_ptr(fenrix::user_cancelled("operation cancelled")));
                continue;
            }
            const DWORD now = GetTickCount();
            if (now - window_start < bound.window_ms)
                continue;
            // Either count shows progress: reads and writes as they
            // complete, or bytes as they come off the socket.
            const std::uint64_t moved = transferred.load();
            const std::uint64_t on_wire = received_on_wire.load();
            if (moved - moved_before < bound.min_bytes && on_wire - on_wire_before < bound.min_bytes) {
                fail(std::make_exception_ptr(std::runtime_error(stall_text(bound.min_bytes, bound.window_ms))));
                continue;
            }
            window_start = now;
            moved_before = moved;
            on_wire_before = on_wire;
        }
    }

    // Event, status callback and context value: from here on every close of
    // the handle ends in a signal of `closed`. A failure closes the handle at
    // once, while no notification can reach the object yet.
    void arm()
    {
        wembra::kernel_handle event(CreateEventW(nullptr, TRUE, FALSE, nullptr));
        if (!event) {
            const DWORD code = GetLastError();
            release_handle();
            throw wembra::win_runtime_error(code, "CreateEvent failed");
        }
        if (WinHttpSetStatusCallback(handle.get(), &status_callback, WINHTTP_CALLBACK_FLAG_ALL_NOTIFICATIONS, 0) ==
            WINHTTP_INVALID_STATUS_CALLBACK) {
            const DWORD code = GetLastError();
            release_handle();
            throw wembra::http_error(code, "WinHttpSetStatusCallback failed");
        }
        // The context is given now rather than only by WinHttpSendRequest, so
        // that closing a request that was never sent is reported back too.
        closed = std::move(event);
        DWORD_PTR context = reinterpret_cast<DWORD_PTR>(link);
        if (!WinHttpSetOption(handle.get(), WINHTTP_OPTION_CONTEXT_VALUE, &context, sizeof context)) {
            const DWORD code = GetLastError();
            release_handle();
            throw wembra::http_error(code, "WinHttpSetOption(WINHTTP_OPTION_CONTEXT_VALUE) failed");
        }
        link->hold();
    }

    void headers_available()
    {
        status = query_status_code(handle.get());
        const std::string head = query_raw_headers(handle.get());
        for (std::size_t position = 0; position < head.size();) {
            poll_cancel();
            const std::size_t crlf = head.find("\r\n", position);
            const std::size_t end = crlf == std::string::npos ? head.size() : crlf + 2;
            on_header(head.data() + position, end - position);
            position = end;
        }
        count_transferred(head.size());
        std::uint64_t length = 0;
        if (query_content_length(handle.get(), length)) {
            length_announced = true;
            announced_length = length;
            // Callables and progress take 32-bit lengths; a larger
            // announcement is still held against what arrives.
            if (length <= std::numeric_limits<std::uint32_t>::max()) {
                on_length(std::uint32_t(length));
                if (progress) {
                    content_length = T(length);
                    progress->set_range(0, T(length));
                }
            }
        }
        poll_cancel();
        body_started = true;
        read_into(link->ring.first_read());
    }

    void read_complete(DWORD count)
    {
        if (count == 0) {
            // WinHTTP ends the body when the connection closes, also short
            // of its announced length: that is a broken transfer, not a body.
            if (length_announced && body_received < announced_length)
                throw std::runtime_error(cut_short_text(body_received, announced_length));
            link->ring.ended();
            release_handle();
            return;
        }
        // The counts are brought up to date before the block is handed
        // over: the next read's completion may run at once on another thread.
        body_received += count;
        count_transferred(count);
        if (unsigned char* const next = link->ring.filled_one(std::uint32_t(count)))
            read_into(next);
    }

    // Last in every notification that calls it: the request may be gone
    // when it returns.
    void read_into(unsigned char* into)
    {
        call_unlocked([into](HINTERNET h) { return WinHttpReadData(h, into, request_ring::block_size, nullptr); },
                      "WinHttpReadData failed");
    }

    // On the requesting thread: hands every block that has arrived to
    // on_data, in order, with its progress report and a cancellation poll;
    // after a failure the blocks are only let go. When WinHTTP stopped
    // reading on a full ring, the next read starts here.
    void take_blocks()
    {
        for (;;) {
            const request_ring::block block = link->ring.next();
            if (!block.data)
                return;
            if (!failed) {
                try {
                    on_data(block.data, block.length);
                    if (progress && content_length != 0) {
                        received += T(block.length);
                        progress->set(received);
                    }
                    poll_cancel();
                } catch (...) {
                    fail(std::current_exception());
                }
            }
            if (unsigned char* const next = link->ring.taken_one(!failed))
                read_from_requesting_thread(next);
        }
    }

    // A read started outside any notification, so without the link's lock;
    // WinHTTP may complete it inside the call, on this thread.
    void read_from_requesting_thread(unsigned char* into)
    {
        const HINTERNET h = link->begin_call();
        if (!h)
            return;
        const BOOL done = WinHttpReadData(h, into, request_ring::block_size, nullptr);
        const DWORD code = done ? 0 : GetLastError();
        link->end_call();
        if (!done)
            fail(std::make_exception_ptr(wembra::http_error(code, "WinHttpReadData failed")));
    }

    // Set by the first failure, which alone is stored in `error`.
    std::atomic<bool> failed{false};
    // Set once cancel() has answered yes; cancel() is asked under poll_guard.
    std::atomic<bool> cancel_seen{false};
    SRWLOCK poll_guard = SRWLOCK_INIT;
    // Set when the head has been read and the body's reads begin.
    std::atomic<bool> body_started{false};
    // Head and body bytes received, body bytes sent: what the stall bound
    // looks at from the waiting thread.
    std::atomic<std::uint64_t> transferred{0};
    // Response bytes as WinHTTP reports them received from the socket.
    std::atomic<std::uint64_t> received_on_wire{0};
};

}  // namespace hopline
