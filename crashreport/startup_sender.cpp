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
    stored_report_pass() : stop(CreateEventW(nullptr, TRUE, FALSE, nullptr)) {}

    wembra::kernel_handle stop;   // set when the process is about to exit
    SRWLOCK lock = SRWLOCK_INIT;  // guards `thread`
    // Set by the start-up thread before it ends; none when the pass ran on
    // the start-up thread itself.
    wembra::kernel_handle thread;
};

// Built before the reporter is installed, which starts the start-up thread.
stored_report_pass the_pass __attribute__((init_priority(fenrix::startup_order::crash_storage)));

DWORD WINAPI pass_thread(void*)
{
    try {
        run_stored_report_pass(the_pass.stop.get());
        return 0;
    } catch (...) {
        // Given up: the mutex, the temporary folder or the session; the
        // reports stay for a later start.
        return 1;
    }
}

// The start-up thread, to wait for without the reporter's lock: holding it
// would keep the exception filter from handling a crash of the sender while
// someone waits. Empty when none was started.
class startup_thread_view {
public:
    startup_thread_view()
    {
        crash_reporter& r = reporter();
        lock_guard hold(r.lock);
        if (!r.startup_thread)
            return;
        shared = r.startup_thread.get();
        HANDLE copy = nullptr;
        if (DuplicateHandle(GetCurrentProcess(), shared, GetCurrentProcess(), &copy, SYNCHRONIZE, FALSE, 0))
            own.attach(copy);
    }

    explicit operator bool() const { return shared != nullptr; }
    // Without a copy, the reporter's handle serves: only uninstallation at
    // process exit closes it, after the waits here.
    HANDLE get() const { return own ? own.get() : shared; }

private:
    HANDLE shared = nullptr;
    wembra::kernel_handle own;
};

HANDLE pass_thread_handle()
{
    AcquireSRWLockExclusive(&the_pass.lock);
    const HANDLE thread = the_pass.thread.get();
    ReleaseSRWLockExclusive(&the_pass.lock);
    return thread;
}

// Whether the pass ended within `milliseconds`: its thread, not only its
// work, so that the thread's stack is gone too when the caller goes on.
bool pass_ended(const startup_thread_view& startup, DWORD milliseconds)
{
    const DWORD began = GetTickCount();
    if (WaitForSingleObject(startup.get(), milliseconds) != WAIT_OBJECT_0)
        return false;
    const DWORD spent = GetTickCount() - began;
    const DWORD left = milliseconds == INFINITE ? INFINITE : spent < milliseconds ? milliseconds - spent : 0;
    const HANDLE thread = pass_thread_handle();
    // The handle stays until the_pass is destroyed, after every wait here.
    return !thread || WaitForSingleObject(thread, left) == WAIT_OBJECT_0;
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
    const startup_thread_view startup;
    if (startup)
        pass_ended(startup, milliseconds);
}

void finish_startup_sender(unsigned long milliseconds)
{
    const startup_thread_view startup;
    if (!startup)
        return;
    const DWORD grace = milliseconds < stop_grace_ms ? milliseconds : stop_grace_ms;
    if (pass_ended(startup, milliseconds - grace))
        return;
    SetEvent(the_pass.stop.get());
    if (pass_ended(startup, grace))
        return;
    // Stuck where no stop reaches it: ended as uninstallation ends a
    // start-up thread that does not end in time.
    AcquireSRWLockExclusive(&the_pass.lock);
    if (the_pass.thread)
        TerminateThread(the_pass.thread.get(), 1);
    ReleaseSRWLockExclusive(&the_pass.lock);
}

}  // namespace brindlex
