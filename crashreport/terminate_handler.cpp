#include "crashreport/terminate_handler.hpp"

#include <windows.h>

#include <cstdint>
#include <cstdlib>
#include <exception>

#include <unwind.h>

#include "crashreport/crash_reporter.hpp"
#include "crashreport/report_format.hpp"

extern "C" void __cxa_throw(void*, void*, void (*)(void*));
extern "C" void __cxa_rethrow();

namespace brindlex {

namespace {

std::terminate_handler previous_handler = nullptr;

// Where the throwing function called into the C++ runtime.
struct throw_site {
    std::uintptr_t return_address = 0;
    std::uintptr_t stack_pointer = 0;
    std::uintptr_t frame_pointer = 0;
    bool next_is_thrower = false;
    bool found = false;
};

constexpr int dwarf_ebp = 5;

_Unwind_Reason_Code find_thrower(_Unwind_Context* context, void* argument)
{
    auto* site = static_cast<throw_site*>(argument);
    if (site->next_is_thrower) {
        site->return_address = _Unwind_GetIP(context);
        site->frame_pointer = _Unwind_GetGR(context, dwarf_ebp);
        site->found = true;
        return _URC_END_OF_STACK;
    }
    const std::uintptr_t start = _Unwind_GetRegionStart(context);
    if (start == reinterpret_cast<std::uintptr_t>(&__cxa_throw) ||
        start == reinterpret_cast<std::uintptr_t>(&__cxa_rethrow)) {
        // The caller's stack pointer after the call is this frame's CFA.
        site->stack_pointer = _Unwind_GetCFA(context);
        site->next_is_thrower = true;
    }
    return _URC_NO_REASON;
}

[[noreturn]] void on_terminate()
{
    CONTEXT context{};
    RtlCaptureContext(&context);
    throw_site site;
    _Unwind_Backtrace(find_thrower, &site);
    if (site.found) {
        // One byte back: inside the call instruction, so that the address
        // names the throwing line even when the call ends the function.
        context.Eip = DWORD(site.return_address - 1);
        context.Esp = DWORD(site.stack_pointer);
        context.Ebp = DWORD(site.frame_pointer);
    }
    EXCEPTION_RECORD record{};
    record.ExceptionCode = format::cxx_exception_code;
    record.ExceptionFlags = EXCEPTION_NONCONTINUABLE;
    record.ExceptionAddress = reinterpret_cast<void*>(std::uintptr_t(context.Eip));
    EXCEPTION_POINTERS pointers{&record, &context};
    unhandled_exception_filter(&pointers);
    // The reporter is off: the usual end of an uncaught exception.
    if (previous_handler)
        previous_handler();
    std::abort();
}

}  // namespace

void install_terminate_handler()
{
    previous_handler = std::set_terminate(on_terminate);
}

void uninstall_terminate_handler()
{
    std::set_terminate(previous_handler);
}

}  // namespace brindlex
