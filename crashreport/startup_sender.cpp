#include "crashreport/startup_sender.hpp"

#include <windows.h>

#include <cwchar>
#include <optional>
#include <string>

#include "crashreport/report_sender.hpp"
#include "crashreport/report_writer.hpp"
#include "crashreport/reporter_state.hpp"
#include "crashreport/upload_protocol.hpp"
#include "win/error.hpp"
#include "win/file_removal.hpp"
#include "win/handle.hpp"

namespace brindlex {

namespace {

constexpr DWORD mutex_wait_ms = 1000;

// One pass over the stored reports: each n.bxo is offered once and removed;
// its n.bxr follows when the server asks for it and is removed otherwise.
void send_stored_reports()
{
    wembra::win_handle<0> mutex(CreateMutexW(nullptr, FALSE, L"TeskPosiljanjeIzjem"));
    if (!mutex)
        throw wembra::win_runtime_error("Napaka pri stvaritvi ključavnice. Verjetno drug proces že pošilja izjeme.");
    wembra::mutex_locker locked(mutex.get(), mutex_wait_ms);

    std::wstring path;
    path.reserve(260);
    temp_folder(path);
    const std::size_t folder_length = path.size();
    path += L"*.bxo";
    WIN32_FIND_DATAW entry;
    wembra::find_file search(
        FindFirstFileExW(path.c_str(), FindExInfoBasic, &entry, FindExSearchNameMatch, nullptr, 0));
    if (!search)
        return;

    std::optional<report_sender> sender;
    sender.emplace();
    sender->interactive = reporter().interactive;
    sender->init();
    do {
        path.resize(folder_length);
        path.append(entry.cFileName, wcsnlen(entry.cFileName, MAX_PATH));
        try {
            const std::uint16_t status = sender->post_file(path);
            path.erase(path.rfind(L'.'));
            path += L".bxr";
            if (status == upload::status_send_bxr)
                sender->post_file(path);
            else
                wembra::remove_file(path);
        } catch (...) {
            // This report is done with; the next one may fare better.
        }
    } while (FindNextFileW(search.get(), &entry));
}

}  // namespace

DWORD WINAPI startup_sender(void*)
{
    try {
        send_stored_reports();
        return 0;
    } catch (...) {
        return 1;
    }
}

void wait_for_startup_sender(unsigned long milliseconds)
{
    crash_reporter& r = reporter();
    HANDLE own = nullptr;
    HANDLE shared = nullptr;
    {
        lock_guard hold(r.lock);
        if (!r.startup_thread)
            return;
        shared = r.startup_thread.get();
        // A handle of our own, so that the wait needs no lock: holding the
        // lock here would keep the exception filter from handling a crash of
        // the sender itself while the entry point waits for it.
        if (!DuplicateHandle(GetCurrentProcess(), r.startup_thread.get(), GetCurrentProcess(), &own, SYNCHRONIZE, FALSE,
                             0))
            own = nullptr;
    }
    wembra::win_handle<0> thread(own);
    // Without a copy, the reporter's handle serves: only uninstallation at
    // process exit closes it.
    WaitForSingleObject(own ? own : shared, milliseconds);
}

}  // namespace brindlex
