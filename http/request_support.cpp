#include "http/request_support.hpp"

#include <vector>

#include "http/http_error.hpp"
#include "win/format.hpp"
#include "win/handle.hpp"
#include "win/strings.hpp"
#include "win/system_text.hpp"
#include "win/wiping_allocator.hpp"

namespace hopline {

namespace {

void set_proxy_option(HINTERNET request, DWORD option, const char* value)
{
    wembra::wiping_wstring wide;
    wembra::multibyte_to_wide(CP_UTF8, 0, value, -1, wide);
    // The proxy options count the terminator. Their results are ignored: a
    // request without the credential can still go through.
    WinHttpSetOption(request, option, wide.data(), DWORD(wide.size() + 1));
}

void set_proxy_option_from_registry(HINTERNET request, HKEY key, const wchar_t* name, DWORD option)
{
    // The value may be the proxy password: it goes only through wiping storage.
    wembra::wiping_wstring value;
    if (wembra::reg_query_string(key, name, value) == ERROR_SUCCESS)
        WinHttpSetOption(request, option, value.data(), DWORD(value.size() + 1));
}

}  // namespace

bool is_secure_scheme(std::int32_t scheme)
{
    return scheme == 2 || scheme == 4;
}

HINTERNET open_request(HINTERNET connection, const wchar_t* verb, const url& target, const char* const* accept_types)
{
    const std::wstring path = wembra::utf8_to_wide(target.path);
    std::vector<std::wstring> types;
    for (const char* const* type = accept_types; *type; ++type)
        types.push_back(wembra::utf8_to_wide(*type));
    std::vector<const wchar_t*> type_list;
    for (const std::wstring& type : types)
        type_list.push_back(type.c_str());
    type_list.push_back(nullptr);
    return WinHttpOpenRequest(connection, verb, path.c_str(), nullptr, WINHTTP_NO_REFERER, type_list.data(),
                              is_secure_scheme(target.scheme) ? WINHTTP_FLAG_SECURE : 0);
}

void set_server_credentials(HINTERNET request, const url& target)
{
    if (!target.user.empty()) {
        const std::wstring user = wembra::utf8_to_wide(target.user);
        if (!WinHttpSetOption(request, WINHTTP_OPTION_USERNAME, const_cast<wchar_t*>(user.c_str()), DWORD(user.size())))
            throw wembra::http_error("WinHttpSetOption(WINHTTP_OPTION_USERNAME) failed");
    }
    if (!target.password.empty()) {
        wembra::wiping_wstring password;
        wembra::multibyte_to_wide(CP_UTF8, 0, target.password.c_str(), int(target.password.size()), password);
        if (!WinHttpSetOption(request, WINHTTP_OPTION_PASSWORD, password.data(), DWORD(password.size())))
            throw wembra::http_error("WinHttpSetOption(WINHTTP_OPTION_PASSWORD) failed");
    }
}

void set_proxy_credentials(HINTERNET request, const char* proxy_user, const char* proxy_password)
{
    if (proxy_user || proxy_password) {
        if (proxy_user)
            set_proxy_option(request, WINHTTP_OPTION_PROXY_USERNAME, proxy_user);
        if (proxy_password)
            set_proxy_option(request, WINHTTP_OPTION_PROXY_PASSWORD, proxy_password);
        return;
    }
    wembra::reg_key key;
    if (RegOpenKeyExW(HKEY_LOCAL_MACHINE, L"SOFTWARE\\Varnex\\Lumora", 0, KEY_READ | KEY_WOW64_64KEY, key.out()) !=
        ERROR_SUCCESS)
        return;
    set_proxy_option_from_registry(request, key.get(), L"ProxyUporabnik", WINHTTP_OPTION_PROXY_USERNAME);
    set_proxy_option_from_registry(request, key.get(), L"ProxyGeslo", WINHTTP_OPTION_PROXY_PASSWORD);
}

std::string extra_header_text(const header_map& headers)
{
    std::size_t size = 0;
    for (const auto& [name, value] : headers)
        size += name.size() + value.size() + 4;
    std::string text;
    text.reserve(size);
    for (const auto& [name, value] : headers) {
        if (!text.empty())
            text += "\r\n";
        text += name;
        text += ": ";
        text += value;
    }
    return text;
}

void add_extra_headers(HINTERNET request, const header_map& headers)
{
    if (headers.empty())
        return;
    const std::wstring text = wembra::utf8_to_wide(extra_header_text(headers));
    if (!WinHttpAddRequestHeaders(request, text.c_str(), DWORD(text.size()), WINHTTP_ADDREQ_FLAG_ADD))
        throw wembra::http_error("WinHttpAddRequestHeaders failed");
}

std::string secure_failure_text(DWORD flags)
{
    static const struct {
        DWORD flag;
        const char* text;
    } table[] = {
        {WINHTTP_CALLBACK_STATUS_FLAG_CERT_REV_FAILED,
         "Certification revocation checking has been enabled, but the revocation check failed to verify "
         "whether a certificate has been revoked. The server used to check for revocation might be "
         "unreachable."},
        {WINHTTP_CALLBACK_STATUS_FLAG_INVALID_CERT, "SSL certificate is invalid."},
        {WINHTTP_CALLBACK_STATUS_FLAG_CERT_REVOKED, "SSL certificate was revoked."},
        {WINHTTP_CALLBACK_STATUS_FLAG_INVALID_CA,
         "The function is unfamiliar with the Certificate Authority that generated the server's certificate."},
        {WINHTTP_CALLBACK_STATUS_FLAG_CERT_CN_INVALID,
         "SSL certificate common name (host name field) is incorrect, for example, if you entered "
         "www.lumora.example and the common name on the certificate says cdn.lumora.example."},
        {WINHTTP_CALLBACK_STATUS_FLAG_CERT_DATE_INVALID,
         "SSL certificate date that was received from the server is bad. The certificate is expired."},
        {WINHTTP_CALLBACK_STATUS_FLAG_SECURITY_CHANNEL_ERROR,
         "The application experienced an internal error loading the SSL libraries."},
    };
    for (const auto& row : table)
        if (flags & row.flag)
            return row.text;
    return wembra::format("WinHttp failed TLS handshake (flags 0x%x)", wembra::default_locale, unsigned(flags));
}

std::string request_error_text(DWORD_PTR api)
{
    switch (api) {
    case API_RECEIVE_RESPONSE:
        return "WinHttpReceiveResponse failed";
    case API_QUERY_DATA_AVAILABLE:
        return "WinHttpQueryDataAvailable failed";
    case API_READ_DATA:
        return "WinHttpReadData failed";
    case API_WRITE_DATA:
        return "WinHttpWriteData failed";
    case API_SEND_REQUEST:
        return "WinHttpSendRequest failed";
    case API_GET_PROXY_FOR_URL:
        return "WinHttpGetProxyForUrlEx failed";
    case 7:
        return "WinHttpGetProxySettingsEx failed";
    default:
        return "WinHttp failed somewhere (" + std::to_string(api) + ")";
    }
}

std::uint16_t query_status_code(HINTERNET request)
{
    DWORD status = 0;
    DWORD size = sizeof status;
    if (!WinHttpQueryHeaders(request, WINHTTP_QUERY_STATUS_CODE | WINHTTP_QUERY_FLAG_NUMBER,
                             WINHTTP_HEADER_NAME_BY_INDEX, &status, &size, WINHTTP_NO_HEADER_INDEX))
        throw wembra::http_error("WinHttpQueryHeaders(WINHTTP_QUERY_STATUS_CODE) failed");
    return std::uint16_t(status);
}

std::string query_raw_headers(HINTERNET request)
{
    DWORD size = 0;
    WinHttpQueryHeaders(request, WINHTTP_QUERY_RAW_HEADERS_CRLF, WINHTTP_HEADER_NAME_BY_INDEX, WINHTTP_NO_OUTPUT_BUFFER,
                        &size, WINHTTP_NO_HEADER_INDEX);
    if (const DWORD code = GetLastError(); code != ERROR_INSUFFICIENT_BUFFER)
        throw wembra::http_error(code,
                                 "WinHttpQueryHeaders(WINHTTP_QUERY_RAW_HEADERS) failed to enumerate buffer length");
    // The size is in bytes and counts the terminator, for which the string
    // keeps room of its own.
    std::wstring text(size / 2 > 0 ? size / 2 - 1 : 0, L'\0');
    if (!WinHttpQueryHeaders(request, WINHTTP_QUERY_RAW_HEADERS_CRLF, WINHTTP_HEADER_NAME_BY_INDEX, text.data(), &size,
                             WINHTTP_NO_HEADER_INDEX))
        throw wembra::http_error("WinHttpQueryHeaders(WINHTTP_QUERY_RAW_HEADERS) failed");
    text.resize(size / 2);
    return wembra::wide_to_utf8(text);
}

bool query_content_length(HINTERNET request, std::uint64_t& length)
{
    wchar_t text[32];
    DWORD size = sizeof text;
    if (!WinHttpQueryHeaders(request, WINHTTP_QUERY_CONTENT_LENGTH, WINHTTP_HEADER_NAME_BY_INDEX, text, &size,
                             WINHTTP_NO_HEADER_INDEX))
        return false;
    const std::size_t count = size / sizeof(wchar_t);
    if (count == 0)
        return false;
    std::uint64_t value = 0;
    for (std::size_t i = 0; i < count; ++i) {
        const wchar_t c = text[i];
        if (c < L'0' || c > L'9' || value > (UINT64_MAX - 9) / 10)
            return false;
        value = value * 10 + std::uint64_t(c - L'0');
    }
    length = value;
    return true;
}

std::string cut_short_text(std::uint64_t received, std::uint64_t announced)
{
    return "connection closed after " + std::to_string(received) + " of " + std::to_string(announced) + " bytes";
}

std::string stall_text(std::uint32_t min_bytes, std::uint32_t window_ms)
{
    const std::string window = window_ms % 1000 == 0 ? std::to_string(window_ms / 1000) + " seconds"
                                                     : std::to_string(window_ms) + " milliseconds";
    return "less than " + std::to_string(min_bytes) + " bytes transferred in " + window;
}

DWORD chunked_body_total_length()
{
    static const bool wine = GetProcAddress(GetModuleHandleW(L"ntdll.dll"), "wine_get_version") != nullptr;
    return wine ? 1 : 0;
}

}  // namespace hopline
