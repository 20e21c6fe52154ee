#include "crashreport/startup_sender.hpp"

#include <windows.h>

#include "base/startup_order.hpp"
#include "crashreport/reporter_state.hpp"
#include "crashreport/stored_pass.hpp"
#include "win/handle.hpp"

namespace brindlex {

namespace {

// The part of the exit wait left to an upload to end once it is told to:
// the request notices within a twentieth of a second and lets WinHTTP go
// within a fifth.
constexpr DWORD stop_grace_ms = 500;

// The pass runs on a thread of its own rather than on the start-up thread:
// the exception filter waits for the start-up thread (up to 30 s) before it
// handles a crash, and the pass may wait for a silent server for a minute
// per report while the dialog is up. The start-up thread only starts it.
struct stored_report_pass {
    stored_report_pass()
        : ended(CreateEventW(nullptr, TRUE, FALSE, nullptr)), stop(CreateEventW(nullptr, TRUE, FALSE, nullptr))
    {
    }

    wembra::kernel_handle ended;  // set when the pass has ended or is given up
    wembra::kernel_handle stop;   // set when the process is about to exit
    SRWLOCK lock = SRWLOCK_INIT;  // guards `thread`
    wembra::kernel_handle thread;
};

// Built before the reporter is installed, which starts the start-up thread.
stored_report_pass the_pass __attribute__((init_priority(fenrix::startup_order::crash_storage)));

DWORD WINAPI pass_thread(void*)
{
    DWORD result = 0;
    try {
        run_stored_report_pass(the_pass.stop.get());
    } catch (...) {
        // Given up: the mutex, the temporary folder or the session; the
        // reports stay for a later start.
        result = 1;
    }
    SetEvent(the_pass.ended.get());
    return result;
}

bool startup_sender_started()
{
    crash_reporter& r = reporter();
    lock_guard hold(r.lock);
    return bool(r.startup_thread);
}

bool pass_ended(DWORD milliseconds)
{
    return WaitForSingleObject(the_pass.ended.get(), milliseconds) == WAIT_OBJECT_0;
}

// Ends the pass at the latest at static destruction, before the objects it
// uses are gone; built after every object of a fixed place in the start-up
// order, it is destroyed before them.
struct finish_at_exit {
    finish_at_exit() = default;
    finish_at_exit(const finish_at_exit&) = delete;
    finish_at_exit& operator=(const finish_at_exit&) = delete;
    ~finish_at_exit() { finish_startup_sender(); }
} finish_guard;

}  // namespace

DWORD WINAPI startup_sender(void*)
{
    HANDLE thread = CreateThread(nullptr, 0, pass_thread, nullptr, 0, nullptr);
    if (!thread)
        return pass_thread(nullptr);
    AcquireSRWLockExclusive(&the_pass.lock);
    the_pass.thread.attach(thread);
    ReleaseSRWLockExclusive(&the_pass.lock);
    return 0;
}

void wait_for_startup_sender(unsigned long milliseconds)
{
    if (startup_sender_started())
        pass_ended(milliseconds);
}

void finish_startup_sender(unsigned long milliseconds)
{
    if (!startup_sender_started())
        return;
    const DWORD grace = milliseconds < stop_grace_ms ? milliseconds : stop_grace_ms;
    if (pass_ended(milliseconds - grace))
        return;
    SetEvent(the_pass.stop.get());
    if (pass_ended(grace))
        return;
    // Stuck where no stop reaches it: ended as uninstallation ends a
    // start-up thread that does not end in time.
    AcquireSRWLockExclusive(&the_pass.lock);
    if (the_pass.thread)
        TerminateThread(the_pass.thread.get(), 1);
    ReleaseSRWLockExclusive(&the_pass.lock);
    SetEvent(the_pass.ended.get());
}

}  // namespace brindlex
