#include "crashreport/terminate_handler.hpp"

#include <windows.h>

#include <cstdint>
#include <cstdlib>
#include <exception>

#include "crashreport/crash_reporter.hpp"
#include "crashreport/native_context.hpp"
#include "crashreport/report_format.hpp"

namespace brindlex {

namespace {

std::terminate_handler previous_handler = nullptr;

[[noreturn]] void on_terminate()
{
    CONTEXT context{};
    capture_throw_site(context);
    EXCEPTION_RECORD record{};
    record.ExceptionCode = format::cxx_exception_code;
    // Non-continuable: the filter handles it as the crash it is, where a
    // continuable one would be the unwinder's own search for a handler.
    record.ExceptionFlags = EXCEPTION_NONCONTINUABLE;
    record.ExceptionAddress = reinterpret_cast<void*>(std::uintptr_t(walk_start_of(context).pc));
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
