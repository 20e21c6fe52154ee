// The parts of a request that do not depend on its callables: opening and
// configuring the WinHTTP request handle, and the failure texts of the
// notifications.
#pragma once

#include <windows.h>
#include <winhttp.h>

#include <cstdint>
#include <string>

#include "http/header_map.hpp"
#include "parser/url.hpp"

namespace hopline {

// Opens the request handle: verb, the URL's path, the accepted media types
// (a null-ended list) and the TLS flag for https and wss. Null on failure.
HINTERNET open_request(HINTERNET connection, const wchar_t* verb, const url& target, const char* const* accept_types);

// True for the schemes that run over TLS: 2 (https) and 4 (wss).
bool is_secure_scheme(std::int32_t scheme);

// The server credentials of the URL, each only when not empty.
void set_server_credentials(HINTERNET request, const url& target);

// The proxy credentials given by the caller, or when both are null those of
// HKLM\SOFTWARE\Varnex\Lumora "ProxyUporabnik" / "ProxyGeslo". Failures
// leave the request without that credential.
void set_proxy_credentials(HINTERNET request, const char* proxy_user, const char* proxy_password);

// "Name: value" lines in map order joined by CR LF, none after the last.
std::string extra_header_text(const header_map& headers);

// Adds the extra headers; nothing when the map is empty.
void add_extra_headers(HINTERNET request, const header_map& headers);

// The texts reported for a secure-failure flag word and for a request error
// by the identifier of the function that failed.
std::string secure_failure_text(DWORD flags);
std::string request_error_text(DWORD_PTR api);

// The response's raw header block in UTF-8, each line with its CR LF and the
// final empty line.
std::string query_raw_headers(HINTERNET request);

// The total length given to WinHttpSendRequest for a body sent in chunks:
// 0 ("not announced"), except under Wine, whose WinHTTP reads the response
// right after the head when the announced length is 0 and so would wait for
// a reply while the server waits for the body. There a length of 1 is
// announced; the Content-Length header it adds is overridden by
// Transfer-Encoding: chunked at the server.
DWORD chunked_body_total_length();

// The Content-Length of the response as the server wrote it, in full 64 bits
// (WinHTTP's numeric query stops at 32). False when there is none, or when
// it is not a plain decimal number that fits.
bool query_content_length(HINTERNET request, std::uint64_t& length);

// "connection closed after 128000 of 300000 bytes"
std::string cut_short_text(std::uint64_t received, std::uint64_t announced);

// "less than 1024 bytes transferred in 60 seconds"
std::string stall_text(std::uint32_t min_bytes, std::uint32_t window_ms);
std::uint16_t query_status_code(HINTERNET request);

}  // namespace hopline
