#include "http/session.hpp"

#include "http/http_error.hpp"
#include "win/strings.hpp"

namespace hopline {

namespace {

// Milliseconds.
constexpr int resolve_timeout = 5000;
constexpr int connect_timeout = 10000;
constexpr int send_timeout = 30000;
constexpr int receive_timeout = 30000;

}  // namespace

session::session(const std::string& user_agent) : user_agent(user_agent)
{
    // Asynchronous: every request reports through its status callback, and
    // the machine's WinHTTP proxy configuration applies.
    handle.attach(WinHttpOpen(wembra::utf8_to_wide(user_agent).c_str(), WINHTTP_ACCESS_TYPE_DEFAULT_PROXY,
                              WINHTTP_NO_PROXY_NAME, WINHTTP_NO_PROXY_BYPASS, WINHTTP_FLAG_ASYNC));
    if (!handle)
        throw wembra::http_error("WinHttpOpen failed");
    if (!WinHttpSetTimeouts(handle.get(), resolve_timeout, connect_timeout, send_timeout, receive_timeout))
        throw wembra::http_error("WinHttpSetTimeouts failed");
}

connection::connection(hopline::session& session, std::int32_t scheme, const std::string& host, std::uint16_t port)
    : session(&session), scheme(scheme), host(host), port(port)
{
    handle.attach(WinHttpConnect(session.handle.get(), wembra::utf8_to_wide(host).c_str(), port, 0));
    if (!handle)
        throw wembra::http_error("WinHttpConnect failed");
}

}  // namespace hopline
