// One HTTP exchange on a connection, made in WinHTTP's asynchronous mode and
// seen by the caller as one blocking call, send(). WinHTTP reports on its own
// threads through status_callback; the response flows out through three
// callables bound at construction:
//   on_header(const char* line, std::size_t length)  each raw header line with its CR LF
//   on_length(std::uint32_t content_length)           once, when a Content-Length is announced
//   on_data(const unsigned char* data, std::uint32_t count)  each body block, in order
// Any of them may throw; the first failure of a request ends it and is thrown
// again by send() on the requesting thread.
#pragma once

#include <windows.h>
#include <winhttp.h>

#include <atomic>
#include <cstdint>
#include <exception>
#include <stdexcept>
#include <string>

#include "http/header_map.hpp"
#include "http/http_error.hpp"
#include "http/http_handle.hpp"
#include "http/request_support.hpp"
#include "http/session.hpp"
#include "parser/url.hpp"
#include "setup/progress.hpp"
#include "win/error.hpp"
#include "win/handle.hpp"

namespace hopline {

template <class OnHeader, class OnLength, class OnData, class T>
class request {
public:
    request(const request&) = delete;
    request& operator=(const request&) = delete;

    // A request that was prepared but never completed still has WinHTTP
    // holding its address: the handle is closed here and the object lives on
    // until WinHTTP's last notification for it has returned.
    ~request()
    {
        if (handle)
            release_handle();
        if (closed)
            WaitForSingleObject(closed.get(), INFINITE);
    }

    // Sends the prepared request and returns when WinHTTP has closed its
    // handle; rethrows the first failure raised on the way.
    void send() { send_request(0); }

    // Registered with WinHTTP for the request handle; the context value is
    // the request object.
    static void CALLBACK status_callback(HINTERNET, DWORD_PTR context, DWORD code, LPVOID data, DWORD length)
    {
        if (!context)
            return;
        request* self = reinterpret_cast<request*>(context);
        self->notifications.fetch_add(2);
        if (code == WINHTTP_CALLBACK_STATUS_HANDLE_CLOSING)
            self->notifications.fetch_or(closing_seen);
        // Once a request has failed, nothing more of it reaches the callables.
        if (code == WINHTTP_CALLBACK_STATUS_HANDLE_CLOSING || !self->failed) {
            try {
                self->callback(code, data, length);
            } catch (...) {
                // The first failure is the one reported; a later one (WinHTTP
                // follows a secure failure with a request error) never
                // replaces it.
                if (!self->failed.exchange(true))
                    self->error = std::current_exception();
                self->release_handle();
            }
        }
        // WinHTTP may deliver the handle-closing notification while another
        // notification of the request is still running (a read that
        // completes inside WinHttpReadData, say). `closed` is signalled by
        // whichever of them returns last, and nothing touches the object
        // after that.
        const HANDLE event = self->closed.get();
        if (self->notifications.fetch_sub(2) == (2 | closing_seen))
            SetEvent(event);
    }

    std::uint16_t status = 0;
    hopline::connection* connection;
    wembra::http handle;
    unsigned char buffer[8192] = {};
    std::exception_ptr error;
    // Manual-reset; set once the handle has closed and no notification of
    // the request is running any more.
    wembra::kernel_handle closed;
    OnHeader& on_header;
    OnLength& on_length;
    OnData& on_data;
    fenrix::progress<T>* progress;
    T content_length = 0;
    T received = 0;

protected:
    request(hopline::connection& connection, OnHeader& on_header, OnLength& on_length, OnData& on_data,
            fenrix::progress<T>* progress)
        : connection(&connection), on_header(on_header), on_length(on_length), on_data(on_data), progress(progress)
    {
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
        if (code != WINHTTP_CALLBACK_STATUS_HANDLE_CLOSING)
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
                                   total_length, reinterpret_cast<DWORD_PTR>(this))) {
            const DWORD code = GetLastError();
            if (code == ERROR_WINHTTP_RESEND_REQUEST)
                continue;
            // Notifications may already be on their way: they must have
            // ended before the caller may destroy the request.
            release_handle();
            WaitForSingleObject(closed.get(), INFINITE);
            throw wembra::http_error(code, "WinHttpSendRequest failed");
        }
        WaitForSingleObject(closed.get(), INFINITE);
        if (error)
            std::rethrow_exception(error);
    }

    void poll_cancel()
    {
        if (!failed && progress && progress->cancel())
            throw fenrix::user_cancelled("operation cancelled");
    }

    void receive_response()
    {
        if (!WinHttpReceiveResponse(handle.get(), nullptr))
            throw wembra::http_error("WinHttpReceiveResponse failed");
    }

    // Closes the request handle; WinHTTP answers with the handle-closing
    // notification. The member is emptied first, because that notification
    // may come on this very thread, inside WinHttpCloseHandle.
    void release_handle()
    {
        // Atomic, since a failure and the end of the body may both close it.
        if (const HINTERNET h = InterlockedExchangePointer(&handle.handle_, nullptr))
            WinHttpCloseHandle(h);
    }

private:
    static constexpr unsigned closing_seen = 1;

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
        if (WinHttpSetStatusCallback(handle.get(), &status_callback, WINHTTP_CALLBACK_FLAG_ALL_NOTIFICATIONS, 0)
            == WINHTTP_INVALID_STATUS_CALLBACK) {
            const DWORD code = GetLastError();
            release_handle();
            throw wembra::http_error(code, "WinHttpSetStatusCallback failed");
        }
        // The context is given now rather than only by WinHttpSendRequest, so
        // that closing a request that was never sent is reported back too.
        DWORD_PTR context = reinterpret_cast<DWORD_PTR>(this);
        if (!WinHttpSetOption(handle.get(), WINHTTP_OPTION_CONTEXT_VALUE, &context, sizeof context)) {
            const DWORD code = GetLastError();
            release_handle();
            throw wembra::http_error(code, "WinHttpSetOption(WINHTTP_OPTION_CONTEXT_VALUE) failed");
        }
        closed = std::move(event);
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
        DWORD length = 0;
        DWORD size = sizeof length;
        if (WinHttpQueryHeaders(handle.get(), WINHTTP_QUERY_CONTENT_LENGTH | WINHTTP_QUERY_FLAG_NUMBER,
                                WINHTTP_HEADER_NAME_BY_INDEX, &length, &size, WINHTTP_NO_HEADER_INDEX)) {
            on_length(std::uint32_t(length));
            if (progress) {
                content_length = length;
                progress->set_range(0, length);
            }
        }
        poll_cancel();
        read_next();
    }

    void read_complete(DWORD count)
    {
        if (count == 0) {
            release_handle();
            return;
        }
        // The next read fills the same buffer, so it starts only after
        // on_data has taken this block.
        on_data(static_cast<const unsigned char*>(buffer), std::uint32_t(count));
        poll_cancel();
        read_next();
        if (progress && content_length != 0) {
            received += count;
            progress->set(received);
        }
    }

    void read_next()
    {
        if (!WinHttpReadData(handle.get(), buffer, sizeof buffer, nullptr))
            throw wembra::http_error("WinHttpReadData failed");
    }

    // Twice the number of notifications running, plus closing_seen once the
    // handle-closing notification has arrived.
    std::atomic<unsigned> notifications{0};
    // Set by the first failure, which alone is stored in `error`.
    std::atomic<bool> failed{false};
};

}  // namespace hopline
