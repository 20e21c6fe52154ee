// A program that links the crash reporter the way the setup program does
// (installed by its static initialiser, the entry point waiting at most two
// seconds for the start-up sender, the worker body in the reporter's guard,
// at most two seconds more for the sender before it exits) and crashes on
// demand:
//
//   crash_host.exe [--trace=N ...] KIND
//
// KIND: av-main, av-worker, stack-overflow, throw-object (on a thread made
// with CreateThread), throw-object-std-thread, divide-by-zero (each right
// after the entry point's wait, while the start-up sender may still run);
// "wait" (waits for the start-up sender to end, however long it takes: exit
// 0 when no stored .bxo report is left, 3 otherwise); "dialog" (the program's
// own course: a box "dialog" in place of the setup dialog, whose text gives
// the milliseconds the entry point waited, then the wait before exit, which
// begins by creating the file that CRASH_HOST_EXITING names, if any, and a
// box "exit" with its milliseconds; exit 0 or 3 as for "wait", as the stored
// reports were right after that wait);
// "filter" (exit 10 when the reporter's filter is in force, 11 otherwise). --trace=N adds a trace line of N characters;
// --starve-threads leaves no room for the stack of another thread (32-bit
// only: exit 2 in a 64-bit process); --hold-loader-lock keeps the loader lock,
// which a new thread needs before it runs, so that no other thread starts.
// The report server is taken from LUMORA_REPORT_SERVER ("host:port").
#include <windows.h>

#include <shellapi.h>

#include <cstdlib>
#include <cstring>
#include <string>
#include <thread>
#include <vector>

#include "crashreport/crash_reporter.hpp"
#include "crashreport/exception_guard.hpp"
#include "crashreport/report_server.hpp"
#include "crashreport/startup_sender.hpp"

brindlex::report_server_address brindlex::configured_report_server()
{
    const char* text = std::getenv("LUMORA_REPORT_SERVER");
    if (!text || !std::strchr(text, ':'))
        return {"127.0.0.1", 9};
    const char* colon = std::strrchr(text, ':');
    return {std::string(text, colon), std::uint16_t(std::atoi(colon + 1))};
}

namespace {

using crash_function = void (*)();

volatile int zero = 0;
volatile int numerator = 7;
volatile int sink = 0;

__attribute__((noinline)) void note_step()
{
    sink = sink + 1;
}

// The faulting functions call another one first: GCC gives a function that
// calls nothing no frame of its own (even with -fno-omit-frame-pointer), and
// a frame-pointer walk then skips that function's caller.
__attribute__((noinline)) void fault_access_violation()
{
    note_step();
    volatile int* volatile nowhere = nullptr;
    *nowhere = 1;
}

__attribute__((noinline)) void fault_divide_by_zero()
{
    note_step();
    sink = numerator / zero;
}

__attribute__((noinline)) void fault_throw_object()
{
    // Not a std::exception: what the setup worker's own handler lets pass.
    throw 42;
}

__attribute__((noinline)) int fault_stack_overflow(int depth)
{
    // Less than a page, so that no stack probe runs: the overflow faults in
    // this function itself.
    volatile char block[1024];
    block[depth % sizeof block] = char(depth);
    if (zero == 0)
        return fault_stack_overflow(depth + 1) + block[0];
    return block[0];
}

__attribute__((noinline)) void fault_stack_overflow_start()
{
    sink = fault_stack_overflow(0);
}

// Two callers above the faulting function; the statements after the calls
// keep them from becoming jumps.
__attribute__((noinline)) void crash_caller_two(crash_function fault)
{
    fault();
    sink = sink + 1;
}

__attribute__((noinline)) void crash_caller_one(crash_function fault)
{
    crash_caller_two(fault);
    sink = sink + 1;
}

DWORD WINAPI guarded_worker(void* argument)
{
    auto fault = reinterpret_cast<crash_function>(argument);
    brindlex::run_guarded([fault] { crash_caller_one(fault); });
    return 0;
}

void crash_on_worker(crash_function fault)
{
    HANDLE thread = CreateThread(nullptr, 0, guarded_worker, reinterpret_cast<void*>(fault), 0, nullptr);
    WaitForSingleObject(thread, INFINITE);
    CloseHandle(thread);
}

// The setup program's worker: a std::thread whose body runs in the guard.
void crash_on_std_thread(crash_function fault)
{
    std::thread worker([fault] { brindlex::run_guarded([fault] { crash_caller_one(fault); }); });
    worker.join();
}

// Leaves no free address range large enough for another thread's stack
// (2 MiB reserved by default), but holes of 1 MiB for the heap: the crash
// worker then cannot start and the faulting thread falls back. Only in a
// 32-bit process: Wine keeps a byte per reserved page, and the 128 TiB of a
// 64-bit one would take the machine's memory.
bool starve_thread_creation()
{
    if (sizeof(void*) != 4)
        return false;
    std::vector<void*> blocks;
    for (SIZE_T size : {SIZE_T(16) << 20, SIZE_T(1) << 20, SIZE_T(64) << 10}) {
        while (void* block = VirtualAlloc(nullptr, size, MEM_RESERVE, PAGE_NOACCESS)) {
            if (size == (SIZE_T(1) << 20))
                blocks.push_back(block);
        }
    }
    for (std::size_t i = 0; i < blocks.size() && i < 64; i += 2)
        VirtualFree(blocks[i], 0, MEM_RELEASE);
    return true;
}

// Takes the loader lock and keeps it: a new thread runs its modules'
// thread notifications under it before its own code, so the crash worker
// waits there, as it would after a crash inside DllMain.
bool hold_loader_lock()
{
    using lock_function = LONG(WINAPI*)(ULONG flags, ULONG * state, ULONG_PTR * cookie);
    const auto lock = reinterpret_cast<lock_function>(
        reinterpret_cast<void*>(GetProcAddress(GetModuleHandleW(L"ntdll.dll"), "LdrLockLoaderLock")));
    ULONG_PTR cookie = 0;
    return lock && lock(0, nullptr, &cookie) >= 0;
}

bool stored_reports_left()
{
    wchar_t folder[MAX_PATH + 1];
    const DWORD length = GetTempPathW(MAX_PATH, folder);
    if (length == 0 || length > MAX_PATH)
        return true;
    std::wstring pattern(folder, length);
    pattern += L"*.bxo";
    WIN32_FIND_DATAW entry;
    HANDLE search = FindFirstFileW(pattern.c_str(), &entry);
    if (search == INVALID_HANDLE_VALUE)
        return false;
    FindClose(search);
    return true;
}

bool reporter_filter_in_force()
{
    LPTOP_LEVEL_EXCEPTION_FILTER current = SetUnhandledExceptionFilter(nullptr);
    SetUnhandledExceptionFilter(current);
    return current == brindlex::unhandled_exception_filter;
}

std::wstring trace_line(int length)
{
    std::wstring line = L"vrstica " + std::to_wstring(length) + L":";
    while (int(line.size()) < length)
        line += wchar_t(L'a' + line.size() % 26);
    line.resize(std::size_t(length));
    return line;
}

// Tells the test that the wait before exit begins.
void announce_exit_wait()
{
    const wchar_t* path = _wgetenv(L"CRASH_HOST_EXITING");
    if (!path)
        return;
    HANDLE file = CreateFileW(path, GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (file != INVALID_HANDLE_VALUE)
        CloseHandle(file);
}

}  // namespace

int WINAPI wWinMain(HINSTANCE, HINSTANCE, LPWSTR, int)
{
    const DWORD started = GetTickCount();
    brindlex::wait_for_startup_sender(brindlex::startup_wait_ms);
    const DWORD waited = GetTickCount() - started;
    int count = 0;
    LPWSTR* arguments = CommandLineToArgvW(GetCommandLineW(), &count);
    std::wstring kind;
    bool starve = false;
    bool hold_loader = false;
    for (int i = 1; i < count; ++i) {
        const std::wstring argument = arguments[i];
        if (argument == L"--starve-threads") {
            starve = true;
        } else if (argument == L"--hold-loader-lock") {
            hold_loader = true;
        } else if (argument.rfind(L"--trace=", 0) == 0) {
            const std::wstring line = trace_line(_wtoi(argument.c_str() + 8));
            brindlex::add_trace(line.c_str(), line.size());
        } else {
            kind = argument;
        }
    }
    LocalFree(arguments);

    if (starve && !starve_thread_creation())
        return 2;
    if (hold_loader && !hold_loader_lock())
        return 2;
    if (kind == L"wait") {
        brindlex::wait_for_startup_sender(brindlex::wait_forever);
        return stored_reports_left() ? 3 : 0;
    }
    if (kind == L"dialog") {
        MessageBoxW(nullptr, std::to_wstring(waited).c_str(), L"dialog", MB_OK);
        announce_exit_wait();
        const DWORD exiting = GetTickCount();
        brindlex::finish_startup_sender(brindlex::exit_wait_ms);
        const DWORD exit_wait = GetTickCount() - exiting;
        const bool left = stored_reports_left();
        MessageBoxW(nullptr, std::to_wstring(exit_wait).c_str(), L"exit", MB_OK);
        return left ? 3 : 0;
    }
    if (kind == L"filter")
        return reporter_filter_in_force() ? 10 : 11;
    if (kind == L"av-main")
        crash_caller_one(fault_access_violation);
    else if (kind == L"av-worker")
        crash_on_worker(fault_access_violation);
    else if (kind == L"divide-by-zero")
        crash_caller_one(fault_divide_by_zero);
    else if (kind == L"throw-object")
        crash_on_worker(fault_throw_object);
    else if (kind == L"throw-object-std-thread")
        crash_on_std_thread(fault_throw_object);
    else if (kind == L"stack-overflow")
        crash_caller_one(fault_stack_overflow_start);
    else
        return 2;
    return 1;  // the crash did not end the process
}
