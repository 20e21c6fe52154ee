// The crash worker: the thread that handles one crash while the faulting
// thread waits. It asks whether the trace lines may be sent, uploads the
// .bxo report (and the .bxr report when the server asks for it), saves both
// when the upload fails, and shows the outcome.
#include <windows.h>

#include <dbghelp.h>

#include <string>

#include "base/exception_message.hpp"
#include "base/startup_order.hpp"
#include "crashreport/exception_guard.hpp"
#include "crashreport/report_sender.hpp"
#include "crashreport/report_writer.hpp"
#include "crashreport/reporter_state.hpp"
#include "crashreport/resource_ids.h"
#include "crashreport/upload_protocol.hpp"
#include "win/error.hpp"
#include "win/format.hpp"
#include "win/handle.hpp"
#include "win/strings.hpp"

namespace brindlex {

namespace {

constexpr std::size_t shown_trace_units = 100;

// Reserved at start-up, so that a crash needs little memory.
std::wstring message_text __attribute__((init_priority(fenrix::startup_order::crash_storage)));
MSGBOXPARAMSW box;

struct reserve_message {
    reserve_message() { message_text.reserve(4352); }
} reserve_message_at_start __attribute__((init_priority(fenrix::startup_order::crash_reservations)));

std::wstring load_text(UINT id, const char* failure)
{
    const wchar_t* text = nullptr;
    const int length = LoadStringW(GetModuleHandleW(nullptr), id, reinterpret_cast<LPWSTR>(&text), 0);
    if (length <= 0)
        throw wembra::win_runtime_error(failure);
    return std::wstring(text, std::size_t(length));
}

int show_box(UINT style)
{
    box = MSGBOXPARAMSW{};
    box.cbSize = sizeof box;
    box.hwndOwner = nullptr;
    box.hInstance = GetModuleHandleW(nullptr);
    box.lpszText = message_text.c_str();
    box.lpszCaption = MAKEINTRESOURCEW(IDS_BRINODJ_NASLOV);
    box.dwStyle = style;
    box.dwLanguageId = 0x400;
    return MessageBoxIndirectW(&box);
}

void append_text(UINT id, const char* failure)
{
    message_text += load_text(id, failure).c_str();
}

void append_reply_text(UINT id)
{
    const std::wstring format = load_text(id, "LoadString(IDS_BRINODJ_REZULTAT/IDS_BRINODJ_REZULTAT_NAPAKA) failed");
    const std::wstring& reply = crash_sender().response_text;
    wembra::format_append(message_text, format.c_str(), wembra::default_locale, int(reply.size()), reply.c_str());
}

bool screen_reader_active()
{
    BOOL active = FALSE;
    return SystemParametersInfoW(SPI_GETSCREENREADER, 0, &active, 0) && active;
}

// Asks whether the trace lines may go with the report; shows them, each cut
// to its first 100 units.
bool ask_for_consent(const crash_reporter& r)
{
    append_text(IDS_BRINODJ_BESEDILO_DOD_OPIS, "LoadString(IDS_BRINODJ_BESEDILO_DOD_OPIS) failed");
    message_text += L'\n';
    for (const wchar_t* line = r.trace_snapshot.data(); line < r.trace_snapshot.data() + r.trace_snapshot.size();
         line += wcslen(line) + 1) {
        const std::size_t length = wcslen(line);
        if (length > shown_trace_units)
            wembra::format_append(message_text, L"\n%.*ls...", wembra::default_locale, int(shown_trace_units), line);
        else
            wembra::format_append(message_text, L"\n%.*ls", wembra::default_locale, int(length), line);
    }
    const bool yes = show_box(MB_YESNO | MB_ICONERROR) == IDYES;
    message_text.clear();
    return yes;
}

void upload_or_save(bool show_ui, bool consent)
{
    try {
        std::uint16_t status = send_report(format::bxo, consent);
        bool second_failed = false;
        if (status == upload::status_send_bxr) {
            try {
                status = send_report(format::bxr, consent);
            } catch (...) {
                second_failed = true;
            }
        }
        if (show_ui)
            append_reply_text(second_failed || status != upload::status_taken ? IDS_BRINODJ_REZULTAT_NAPAKA
                                                                              : IDS_BRINODJ_REZULTAT);
    } catch (...) {
        if (show_ui) {
            append_text(IDS_BRINODJ_REZULTAT_NAPAKA2, "LoadString(IDS_BRINODJ_REZULTAT_NAPAKA2) failed");
            message_text += L' ';
        }
        try {
            save_report_files(consent);
            if (show_ui)
                append_text(IDS_BRINODJ_SHRANJEVANJE, "LoadString(IDS_BRINODJ_SHRANJEVANJE) failed");
        } catch (const std::exception& e) {
            if (show_ui) {
                const std::wstring format =
                    load_text(IDS_BRINODJ_SHRANJEVANJE_NAPAKA, "LoadString(IDS_BRINODJ_SHRANJEVANJE_NAPAKA) failed");
                // The cause is UTF-8; the C runtime's narrow arguments would
                // take it for the ANSI code page.
                const std::wstring cause = wembra::utf8_to_wide(fenrix::exception_message(e));
                wembra::format_append(message_text, format.c_str(), wembra::default_locale, cause.c_str());
            }
        }
    }
}

void handle_one_crash()
{
    crash_reporter& r = reporter();
    if (!SetEvent(r.worker_started.get()))
        throw wembra::win_runtime_error("SetEvent failed");
    const bool has_trace = !r.trace_snapshot.empty();
    const bool show_ui = r.interactive && !screen_reader_active();
    bool consent = has_trace;
    message_text.clear();
    if (show_ui) {
        const std::wstring intro = load_text(IDS_BRINODJ_UVOD, "LoadString(IDS_BRINODJ_UVOD) failed");
        wembra::format_append(message_text, intro.c_str(), wembra::default_locale, int(r.program_name.size()),
                              r.program_name.c_str());
        message_text += L'\n';
        consent = has_trace && ask_for_consent(r);
    }

    // Other code of this process that follows the same convention keeps
    // away from the symbol handler while it is initialised here.
    wembra::win_handle<0> sym_mutex(CreateMutexW(nullptr, FALSE, r.sym_mutex_name.c_str()));
    {
        wembra::mutex_locker locked(sym_mutex.get(), INFINITE);
        SymSetOptions(SymGetOptions() | SYMOPT_FAIL_CRITICAL_ERRORS | SYMOPT_EXACT_SYMBOLS);
        const bool symbols = SymInitialize(r.crash_process_handle, nullptr, TRUE);
        upload_or_save(show_ui, consent);
        if (symbols)
            SymCleanup(r.crash_process_handle);
    }
    if (show_ui) {
        message_text += L"\n\n";
        append_text(IDS_BRINODJ_ZAKLJUCEK, "LoadString(IDS_BRINODJ_ZAKLJUCEK) failed");
        show_box(MB_OK | MB_ICONERROR);
    }
}

}  // namespace

DWORD WINAPI crash_worker(void*)
{
    run_quietly(handle_one_crash);
    return 0;
}

}  // namespace brindlex
