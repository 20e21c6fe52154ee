// A WinHTTP session (user agent and time-outs, asynchronous mode) and a
// connection to one server (host and port) made in it.
#pragma once

#include <cstdint>
#include <string>

#include "http/http_handle.hpp"
#include "http/stall_bound.hpp"

namespace hopline {

class session {
public:
    // Throws wembra::http_error "WinHttpOpen failed" or
    // "WinHttpSetTimeouts failed".
    explicit session(const std::string& user_agent);
    session(const session&) = delete;
    session& operator=(const session&) = delete;

    std::string user_agent;
    wembra::http handle;
    // What every request of the session must move to be left running; a
    // caller may ask for a shorter window before it sends.
    stall_bound bound = default_stall_bound;
};

// Must not outlive its session; WinHttpConnect does not contact the server,
// so a host that does not resolve fails only when a request is sent.
class connection {
public:
    // Throws wembra::http_error "WinHttpConnect failed".
    connection(hopline::session& session, std::int32_t scheme, const std::string& host, std::uint16_t port);
    connection(const connection&) = delete;
    connection& operator=(const connection&) = delete;

    hopline::session* session;
    std::int32_t scheme;
    std::string host;
    std::uint16_t port;
    wembra::http handle;
};

}  // namespace hopline
