// Uploading a report: one chunked HTTPS POST of the report (a zlib stream) to
// the report server's "/BrindlexSprejem/sprejem/". Status 200 means the server
// took the report, 449 asks for the .bxr report as well; a plain-text reply
// is decoded for the user, any other reply is saved as Odgovor.html and the
// upload fails.
#pragma once

#include <cstdint>
#include <memory>
#include <string>

#include "base/progress.hpp"
#include "crashreport/report_format.hpp"
#include "http/header_map.hpp"
#include "http/session.hpp"
#include "parser/url.hpp"
#include "stream/memory_file.hpp"

namespace brindlex {

// The report server's URL record, built before the reporter is installed.
const hopline::url& report_endpoint();

class report_sender {
public:
    report_sender();
    report_sender(const report_sender&) = delete;
    report_sender& operator=(const report_sender&) = delete;

    // A new WinHTTP session and connection and the request headers; throws
    // wembra::http_error.
    void init();
    // Posts `body` from its start; returns the status. Throws on transport
    // failure and for a reply that is not plain text; `last_status` then
    // tells whether the server had answered all the same.
    std::uint16_t post(fenrix::stream::basic_file& body);

    hopline::header_map headers;
    std::unique_ptr<hopline::session> session;
    std::unique_ptr<hopline::connection> connection;
    std::wstring response_text;
    std::wstring response_path;
    fenrix::stream::memory_file response_body;
    // Whether a saved unexpected reply is also opened with the shell: only a
    // process in the interactive window station has a user to show it to.
    // The owner sets it before posting.
    bool interactive = false;
    // The status of the last reply, 0 when the last post got none: the
    // server answered (and so has seen the report) even when the reply
    // itself could not be used.
    std::uint16_t last_status = 0;
    // Polled while an upload runs; a cancel ends it. The crash worker's
    // uploads have none and cannot be cancelled.
    fenrix::progress<std::uint32_t>* cancellation = nullptr;

private:
    void interpret_reply(const std::string& content_type);
    // True when the reply was written to "Odgovor.html" in the temporary
    // folder (and, interactively, opened); without a temporary folder
    // nothing is written anywhere.
    bool save_unexpected_reply();
};

// The crash worker's upload of a freshly written report of `kind`.
std::uint16_t send_report(format::report_kind kind, bool include_trace);

// The process-wide sender of the crash worker (its last reply).
report_sender& crash_sender();

}  // namespace brindlex
