#include "crashreport/report_sender.hpp"

#include <windows.h>

#include <shellapi.h>

#include <new>
#include <stdexcept>
#include <system_error>

#include "base/startup_order.hpp"
#include "crashreport/reply.hpp"
#include "crashreport/report_server.hpp"
#include "crashreport/report_writer.hpp"
#include "crashreport/reporter_state.hpp"
#include "crashreport/resource_ids.h"
#include "crashreport/upload_protocol.hpp"
#include "http/post_chunked_request.hpp"
#include "stream/file.hpp"
#include "win/strings.hpp"

namespace brindlex {

namespace {

constexpr int mode_reply_page =
    fenrix::stream::mode_write | fenrix::stream::mode_create_always | fenrix::stream::mode_sequential;
// A reply is a short text; a server that sends more is not believed, and
// its announced length sets nothing aside beyond this.
constexpr std::uint64_t max_reply_size = 1024 * 1024;

hopline::url make_endpoint()
{
    const report_server_address server = configured_report_server();
    return hopline::url(2, server.port, server.host.c_str(), "", "", upload::path);
}

// Built after the locales and before the reporter is installed.
using fenrix::startup_order::crash_storage;
hopline::url endpoint __attribute__((init_priority(crash_storage))) = make_endpoint();
report_sender process_sender __attribute__((init_priority(crash_storage)));
fenrix::stream::memory_file request_body __attribute__((init_priority(crash_storage))) (4096);

void open_with_shell(const std::wstring& path)
{
    const HRESULT initialised = CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED | COINIT_DISABLE_OLE1DDE);
    ShellExecuteW(nullptr, L"open", path.c_str(), nullptr, nullptr, SW_SHOWNORMAL);
    if (SUCCEEDED(initialised)) {
        const DWORD error = GetLastError();
        CoUninitialize();
        SetLastError(error);
    }
}

}  // namespace

const hopline::url& report_endpoint()
{
    return endpoint;
}

report_sender& crash_sender()
{
    return process_sender;
}

report_sender::report_sender() : response_body(4096)
{
    response_text.reserve(4096);
    response_path.reserve(512);
}

void report_sender::init()
{
    // The connection refers to the session: it goes first.
    connection.reset();
    session = std::make_unique<hopline::session>(upload::user_agent);
    connection = std::make_unique<hopline::connection>(*session, endpoint.scheme, endpoint.host, endpoint.port);
    headers.clear();
    const wchar_t* language = nullptr;
    const int length =
        LoadStringW(GetModuleHandleW(nullptr), IDS_BRINODJ_ACCEPT_LANGUAGE, reinterpret_cast<LPWSTR>(&language), 0);
    if (length > 0) {
        std::string value;
        wembra::wide_to_multibyte(CP_UTF8, 0, language, length, value);
        headers["Accept-Language"] = value;
    }
    headers["Content-Type"] = upload::content_type;
}

std::uint16_t report_sender::post(fenrix::stream::basic_file& body)
{
    using fenrix::stream::ok;
    body.seek(0);
    response_body.seek(0);
    std::string content_type;
    bool status_line = true;
    last_status = 0;

    auto read_body = [&body](unsigned char* destination, std::uint32_t capacity) -> std::uint32_t {
        if (body.state != ok)
            throw std::system_error(int(GetLastError()), std::system_category(), "failed to read the report");
        return std::uint32_t(body.read(destination, capacity));
    };
    auto on_header = [&](const char* line, std::size_t length) {
        if (status_line) {
            status_line = false;
            return;
        }
        read_content_type_line(line, length, content_type);
    };
    auto on_length = [this](std::uint32_t length) {
        if (length <= max_reply_size)
            response_body.reserve(length);
    };
    auto on_data = [this](const unsigned char* data, std::uint32_t count) {
        if (response_body.tell() + count > max_reply_size)
            throw std::runtime_error("Reply is larger than " + std::to_string(max_reply_size) + " bytes");
        if (response_body.write(data, count) != count)
            throw std::bad_alloc();
    };
    static const char* const accept_types[] = {"*/*", nullptr};

    hopline::post_chunked_request<decltype(read_body), decltype(on_header), decltype(on_length), decltype(on_data),
                                  std::uint32_t>
        request(*connection, endpoint, headers, accept_types, nullptr, nullptr, read_body, on_header, on_length,
                on_data, cancellation);
    try {
        request.send();
    } catch (...) {
        // A head that arrived before the failure (a reply too large, or cut
        // short) is still the server's answer.
        last_status = request.status;
        throw;
    }
    last_status = request.status;
    response_body.truncate();
    response_body.seek(0);
    interpret_reply(content_type);
    return request.status;
}

void report_sender::interpret_reply(const std::string& content_type)
{
    const media_type media = split_content_type(content_type);
    if (!is_plain_text(media)) {
        if (save_unexpected_reply())
            throw std::runtime_error(
                "Strežnik " + endpoint.host +
                " je vrnil nepričakovan odgovor. Odgovor je program shranil v datoteko Odgovor.html in ga odprl v "
                "vašem brskalniku.\nProsimo, preučite odgovor o morebitnih namigih za vzrok napake, poskusite "
                "ponovno kasneje ali se obrnite na proizvajalca programske opreme.");
        throw std::runtime_error("Strežnik " + endpoint.host +
                                 " je vrnil nepričakovan odgovor.\nProsimo, poskusite ponovno kasneje ali se obrnite "
                                 "na proizvajalca programske opreme.");
    }
    response_text.clear();
    const char* data = reinterpret_cast<const char*>(response_body.bytes());
    const std::size_t size = std::size_t(response_body.size());
    switch (decoding_for(media)) {
    case reply_decoding::windows_1250:
        wembra::charset_converter(1250).assign(response_text, data, size);
        break;
    case reply_decoding::utf7:
        wembra::charset_converter(65000).assign(response_text, data, size);
        break;
    case reply_decoding::utf8:
        wembra::charset_converter(65001).assign(response_text, data, size);
        break;
    case reply_decoding::utf16:
        for (std::size_t i = 0; i + 1 < size; i += 2) {
            const wchar_t unit = wchar_t(std::uint8_t(data[i]) | std::uint8_t(data[i + 1]) << 8);
            if (unit == 0)
                break;
            response_text += unit;
        }
        break;
    case reply_decoding::none:
        break;
    }
}

bool report_sender::save_unexpected_reply()
{
    response_path.resize(260);
    const DWORD length = GetTempPathW(260, response_path.data());
    // No temporary folder: a relative name would land in whatever the
    // current folder is.
    if (length == 0 || length > 260)
        return false;
    response_path.resize(length);
    response_path += L"Odgovor.html";
    fenrix::stream::file page(response_path.c_str(), mode_reply_page);
    if (page.state != fenrix::stream::ok)
        return false;
    page.write(response_body.bytes(), std::size_t(response_body.size()));
    const bool written = page.state == fenrix::stream::ok;
    page.close();
    if (!written)
        return false;
    if (interactive)
        open_with_shell(response_path);
    return true;
}

std::uint16_t send_report(format::report_kind kind, bool include_trace)
{
    process_sender.interactive = reporter().interactive;
    process_sender.init();
    request_body.seek(0);
    request_body.truncate();
    write_report(kind, include_trace, request_body);
    return process_sender.post(request_body);
}

}  // namespace brindlex
