// The reporter's process-wide state, shared by its parts: installation and
// the exception filter, the report writer, the crash worker and the start-up
// sender. Everything the crash path fills is reserved at start-up (zlib's
// state too: report_writer.cpp compresses in a zlib_arena), and the trace
// snapshot whenever a trace line is added, so a crash allocates nothing on
// the faulting thread, also where it writes the reports itself because no
// crash worker runs. Only a failure there allocates (its exception object),
// and the name of a module whose path is 512 units or longer.
#pragma once

#include <windows.h>

#include <memory>
#include <string>
#include <vector>

#include "win/handle.hpp"

namespace brindlex {

struct crash_reporter {
    crash_reporter();
    ~crash_reporter();
    crash_reporter(const crash_reporter&) = delete;
    crash_reporter& operator=(const crash_reporter&) = delete;

    bool enabled = true;
    // Not recursive: a thread that faults while it holds the lock must never
    // re-enter, which the guards of the crash path ensure.
    SRWLOCK lock = SRWLOCK_INIT;
    std::wstring sym_mutex_name;
    std::wstring program_name;
    bool main_module = false;
    bool filter_installed = false;
    wembra::win_handle<0> startup_thread;
    LPTOP_LEVEL_EXCEPTION_FILTER previous_filter = nullptr;
    std::vector<std::unique_ptr<wchar_t[]>> trace_log;  // oldest first, at most 10
    std::vector<wchar_t> trace_snapshot;                // lines, each with its zero; room kept for all
    EXCEPTION_POINTERS* exception_pointers = nullptr;
    wembra::win_handle<0> crash_thread_handle;  // a real handle of the faulting thread
    HANDLE crash_process_handle = nullptr;
    // The faulting thread's stack, so that snapshots copy only that memory.
    ULONG_PTR crash_stack_low = 0;
    ULONG_PTR crash_stack_high = 0;
    wembra::win_handle<0> crash_thread;
    wembra::win_handle<0> worker_started;
    bool interactive = true;
};

crash_reporter& reporter();

class lock_guard {
public:
    explicit lock_guard(SRWLOCK& lock) : lock(lock) { AcquireSRWLockExclusive(&lock); }
    ~lock_guard() { ReleaseSRWLockExclusive(&lock); }
    lock_guard(const lock_guard&) = delete;
    lock_guard& operator=(const lock_guard&) = delete;

private:
    SRWLOCK& lock;
};

// Takes a handle of the calling (faulting) thread that names it on every
// thread, and its stack bounds, into the crash-time state.
void take_crash_thread(crash_reporter& r);

// The thread procedures.
DWORD WINAPI startup_sender(void*);
DWORD WINAPI crash_worker(void*);

}  // namespace brindlex
