#include "crashreport/crash_reporter.hpp"

#include <cstring>

#include "base/locale.hpp"
#include "base/startup_order.hpp"
#include "crashreport/exception_guard.hpp"
#include "crashreport/native_context.hpp"
#include "crashreport/report_writer.hpp"
#include "crashreport/reporter_state.hpp"
#include "crashreport/terminate_handler.hpp"
#include "win/format.hpp"

namespace brindlex {

namespace {

constexpr DWORD startup_wait_ms = 30000;
constexpr DWORD worker_start_wait_ms = 10000;
constexpr DWORD uninstall_wait_ms = 100;
constexpr std::size_t trace_capacity = 10;
// What a stack overflow leaves for the exception's dispatch (an x64 CONTEXT
// alone is 1232 bytes), the filter, CreateThread and the fallback's writing.
constexpr ULONG crash_stack_bytes = 64 * 1024;

bool wait_succeeded(DWORD result)
{
    return result == WAIT_OBJECT_0 || result == WAIT_ABANDONED;
}

bool runs_in_interactive_station()
{
    HWINSTA station = GetProcessWindowStation();
    if (!station)
        return true;
    wchar_t name[260];
    if (!GetUserObjectInformationW(station, UOI_NAME, name, sizeof name, nullptr))
        return true;
    name[259] = 0;
    return lstrcmpiW(name, L"WinSta0") == 0;
}

// Only a REG_DWORD of exactly four bytes under the machine-wide hive counts;
// anything else leaves the reporter on.
bool read_switch()
{
    wembra::reg_key key;
    if (RegOpenKeyExW(HKEY_LOCAL_MACHINE, L"SOFTWARE\\Varnex\\Lumora\\Brindlex", 0, KEY_READ | KEY_WOW64_64KEY,
                      key.out()) != ERROR_SUCCESS)
        return true;
    DWORD value = 0, type = 0, size = sizeof value;
    if (RegQueryValueExW(key.get(), L"PrestrezajNapake", nullptr, &type, reinterpret_cast<BYTE*>(&value), &size) !=
        ERROR_SUCCESS)
        return true;
    if (type != REG_DWORD || size != sizeof value)
        return true;
    return value != 0;
}

void handle_crash(crash_reporter& r, EXCEPTION_POINTERS* pointers)
{
    // append_trace reserved room for every line: nothing is allocated here.
    r.trace_snapshot.clear();
    for (const auto& line : r.trace_log)
        r.trace_snapshot.insert(r.trace_snapshot.end(), line.get(), line.get() + std::wcslen(line.get()) + 1);

    r.exception_pointers = pointers;
    r.crash_process_handle = GetCurrentProcess();
    take_crash_thread(r);

    r.crash_thread.attach(CreateThread(nullptr, 0, crash_worker, nullptr, 0, nullptr));
    if (r.crash_thread) {
        if (wait_succeeded(WaitForSingleObject(r.worker_started.get(), worker_start_wait_ms))) {
            WaitForSingleObject(r.crash_thread.get(), INFINITE);
            r.crash_thread.attach(nullptr);
            r.crash_thread_handle.attach(nullptr);
            return;
        }
        TerminateThread(r.crash_thread.get(), 1);
        r.crash_thread.attach(nullptr);
    }
    // No worker: the files are written here, without the trace lines, and
    // nothing is uploaded or shown.
    run_contained([] { save_report_files(false); });
    r.crash_thread_handle.attach(nullptr);
}

}  // namespace

void take_crash_thread(crash_reporter& r)
{
    // GetCurrentThread() is a pseudo-handle that names whichever thread uses
    // it: the crash worker would walk its own stack with it. A duplicate
    // names this thread everywhere; making it allocates nothing in the
    // process. Without one (the handle table is full) the walk gets none.
    HANDLE thread = nullptr;
    if (!DuplicateHandle(GetCurrentProcess(), GetCurrentThread(), GetCurrentProcess(), &thread, 0, FALSE,
                         DUPLICATE_SAME_ACCESS))
        thread = nullptr;
    r.crash_thread_handle.attach(thread);
    const NT_TIB& tib = current_thread_block();
    r.crash_stack_low = reinterpret_cast<ULONG_PTR>(tib.StackLimit);
    r.crash_stack_high = reinterpret_cast<ULONG_PTR>(tib.StackBase);
}

crash_reporter::crash_reporter()
{
    interactive = runs_in_interactive_station();
    worker_started.attach(CreateEventW(nullptr, FALSE, FALSE, nullptr));
    reserve_report_buffers();

    wembra::format_assign(sym_mutex_name, L"TeskSymInitialize-%u", fenrix::c_locale, GetCurrentProcessId());
    module_file_name(nullptr, program_name);

    MEMORY_BASIC_INFORMATION region;
    const SIZE_T got = VirtualQuery(reinterpret_cast<const void*>(&unhandled_exception_filter), &region, sizeof region);
    main_module = got >= 8 && region.AllocationBase == GetModuleHandleW(nullptr);

    enabled = read_switch();
    if (!enabled)
        return;
    keep_stack_for_crash();
    lock_guard hold(lock);
    startup_thread.attach(CreateThread(nullptr, 0, startup_sender, nullptr, 0, nullptr));
    if (main_module) {
        previous_filter = SetUnhandledExceptionFilter(unhandled_exception_filter);
        filter_installed = true;
        install_terminate_handler();
    }
}

crash_reporter::~crash_reporter()
{
    lock_guard hold(lock);
    if (filter_installed) {
        SetUnhandledExceptionFilter(previous_filter);
        previous_filter = nullptr;
        filter_installed = false;
        uninstall_terminate_handler();
    }
    if (startup_thread) {
        if (!wait_succeeded(WaitForSingleObject(startup_thread.get(), uninstall_wait_ms)))
            TerminateThread(startup_thread.get(), 1);
        startup_thread.attach(nullptr);
    }
    trace_log.clear();
}

// After the locales and the report buffers and upload state.
crash_reporter the_reporter __attribute__((init_priority(fenrix::startup_order::crash_reporter)));

crash_reporter& reporter()
{
    return the_reporter;
}

bool enabled()
{
    return the_reporter.enabled;
}

void keep_stack_for_crash()
{
    ULONG bytes = crash_stack_bytes;
    if (!the_reporter.enabled || !SetThreadStackGuarantee(&bytes))
        return;  // the overflow still reaches the filter, with less room
    // Windows commits a stack as it grows and raises the overflow once its
    // guard page comes within the guarantee. Wine commits the whole stack
    // with the guard page at its very end, where the overflow leaves the
    // dispatch of an x64 exception too little room and Wine ends the thread
    // unreported. A guard page where the guarantee begins makes Wine raise it
    // there too. A page that is not committed yet, as on Windows, is left to
    // the system.
    SYSTEM_INFO system;
    GetSystemInfo(&system);
    MEMORY_BASIC_INFORMATION stack;
    if (VirtualQuery(&stack, &stack, sizeof stack) < sizeof stack)
        return;
    auto* guard = static_cast<char*>(stack.AllocationBase) + system.dwPageSize + crash_stack_bytes;
    MEMORY_BASIC_INFORMATION page;
    if (guard >= reinterpret_cast<char*>(&page) - system.dwPageSize ||
        VirtualQuery(guard, &page, sizeof page) < sizeof page || page.State != MEM_COMMIT ||
        page.Protect != PAGE_READWRITE)
        return;
    DWORD previous = 0;
    VirtualProtect(guard, system.dwPageSize, PAGE_READWRITE | PAGE_GUARD, &previous);
}

LONG WINAPI unhandled_exception_filter(EXCEPTION_POINTERS* pointers)
{
    crash_reporter& r = the_reporter;
    if (!r.enabled)
        return EXCEPTION_CONTINUE_SEARCH;
    const EXCEPTION_RECORD& record = *pointers->ExceptionRecord;
    if (raised_by_gcc_unwinder(record) && !(record.ExceptionFlags & EXCEPTION_NONCONTINUABLE))
        return EXCEPTION_CONTINUE_EXECUTION;
    {
        lock_guard hold(r.lock);
        if (r.startup_thread) {
            // The start-up sender itself crashed: waiting for it would only
            // wait for this very thread.
            const bool is_startup_thread = GetThreadId(r.startup_thread.get()) == GetCurrentThreadId();
            // A failure while handling the crash must not enter this filter
            // again on this thread: the lock is not recursive.
            if (is_startup_thread || wait_succeeded(WaitForSingleObject(r.startup_thread.get(), startup_wait_ms)))
                run_contained([&r, pointers] { handle_crash(r, pointers); });
        }
    }
    TerminateProcess(GetCurrentProcess(), crashed_exit_code);
    return EXCEPTION_CONTINUE_SEARCH;
}

namespace {

std::size_t units_with_zero(const std::unique_ptr<wchar_t[]>& line)
{
    return std::wcslen(line.get()) + 1;
}

void append_trace(std::unique_ptr<wchar_t[]> line)
{
    crash_reporter& r = the_reporter;
    lock_guard hold(r.lock);
    const bool full = r.trace_log.size() >= trace_capacity;
    // The snapshot the crash path copies the lines into gets its room now,
    // on the thread that adds the line, never on a faulting one.
    std::size_t snapshot_units = units_with_zero(line);
    for (std::size_t i = full ? 1 : 0; i < r.trace_log.size(); ++i)
        snapshot_units += units_with_zero(r.trace_log[i]);
    r.trace_snapshot.reserve(snapshot_units);
    if (full)
        r.trace_log.erase(r.trace_log.begin());
    r.trace_log.push_back(std::move(line));
}

}  // namespace

void add_trace(const char* text, std::size_t length, UINT code_page)
{
    if (!the_reporter.enabled)
        return;
    const std::size_t bytes = strnlen(text, length);
    const DWORD flags = code_page < 65000 ? MB_PRECOMPOSED : 0;
    int units = bytes ? MultiByteToWideChar(code_page, flags, text, int(bytes), nullptr, 0) : 0;
    auto line = std::make_unique<wchar_t[]>(std::size_t(units) + 1);
    if (units > 0)
        units = MultiByteToWideChar(code_page, flags, text, int(bytes), line.get(), units);
    line[std::size_t(units > 0 ? units : 0)] = 0;
    append_trace(std::move(line));
}

void add_trace(const wchar_t* text, std::size_t length)
{
    if (!the_reporter.enabled)
        return;
    const std::size_t units = wcsnlen(text, length);
    auto line = std::make_unique<wchar_t[]>(units + 1);
    std::memcpy(line.get(), text, units * sizeof(wchar_t));
    line[units] = 0;
    append_trace(std::move(line));
}

}  // namespace brindlex
