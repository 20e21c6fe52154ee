// A POST request whose body, of a length not known beforehand, goes out in
// HTTP/1.1 chunked transfer coding. WinHTTP does not frame chunks itself:
// each chunk is assembled in the request's buffer, its size line written
// right before the payload and CR LF right after it, and sent in one write.
// The body comes from
//   read_body(unsigned char* destination, std::uint32_t capacity) -> std::uint32_t
// called with a capacity of 8180; 0 ends the body. The response is then read
// like that of any request.
#pragma once

#include <cstdint>
#include <cstdio>
#include <cstring>
#include <stdexcept>

#include "http/request.hpp"

namespace hopline {

template <class ReadBody, class OnHeader, class OnLength, class OnData, class T>
class post_chunked_request : public request<OnHeader, OnLength, OnData, T> {
    using base = request<OnHeader, OnLength, OnData, T>;

public:
    // Buffer layout: the size line ends at byte 10, the payload follows,
    // then room for its CR LF.
    static constexpr std::size_t payload_offset = 10;
    static constexpr std::uint32_t payload_capacity = 8180;

    post_chunked_request(hopline::connection& connection, const url& target, const header_map& headers,
                         const char* const* accept_types, const char* proxy_user, const char* proxy_password,
                         ReadBody& read_body, OnHeader& on_header, OnLength& on_length, OnData& on_data,
                         fenrix::progress<T>* progress)
        : base(connection, on_header, on_length, on_data, progress), read_body(read_body)
    {
        this->prepare(L"POST", target, headers, accept_types, proxy_user, proxy_password);
        if (!WinHttpAddRequestHeaders(this->handle.get(), L"Transfer-Encoding: chunked", DWORD(-1),
                                      WINHTTP_ADDREQ_FLAG_ADD))
            throw wembra::http_error("WinHttpAddRequestHeaders failed");
    }

    // Sends the head; the chunks follow as WinHTTP finishes each write, and
    // the response is read after the terminating chunk.
    void send() { this->send_request(chunked_body_total_length()); }

    bool last_chunk = false;
    ReadBody& read_body;

protected:
    void callback(DWORD code, LPVOID data, DWORD length) override
    {
        if (code != WINHTTP_CALLBACK_STATUS_HANDLE_CLOSING)
            this->poll_cancel();
        if (code != WINHTTP_CALLBACK_STATUS_WRITE_COMPLETE && code != WINHTTP_CALLBACK_STATUS_SENDREQUEST_COMPLETE) {
            base::callback(code, data, length);
            return;
        }
        // The head went out (first chunk) or the previous chunk did (next
        // one): exactly one write is outstanding at any time, so the buffer
        // is never refilled while WinHTTP still reads it.
        if (code == WINHTTP_CALLBACK_STATUS_WRITE_COMPLETE && data)
            this->count_transferred(*static_cast<const DWORD*>(data));
        if (last_chunk)
            this->receive_response();
        else
            write_next_chunk();
    }

private:
    void write_next_chunk()
    {
        unsigned char* const payload = this->buffer + payload_offset;
        const std::uint32_t count = read_body(payload, payload_capacity);
        if (count > payload_capacity)
            throw std::length_error("read_body returned more bytes than it was given room for");
        if (count == 0) {
            last_chunk = true;
            static const char terminator[] = "0\r\n\r\n";  // no trailer fields
            write(terminator, sizeof terminator - 1);
            return;
        }
        char size_line[16];
        const int line_length = std::snprintf(size_line, sizeof size_line, "%X\r\n", unsigned(count));
        unsigned char* const start = payload - line_length;
        std::memcpy(start, size_line, std::size_t(line_length));
        payload[count] = '\r';
        payload[count + 1] = '\n';
        write(start, DWORD(line_length) + count + 2);
    }

    // Last in every notification that calls it: the request may be gone
    // when it returns.
    void write(const void* data, DWORD length)
    {
        this->call_unlocked([data, length](HINTERNET h) { return WinHttpWriteData(h, data, length, nullptr); },
                            "WinHttpWriteData failed");
    }
};

}  // namespace hopline
