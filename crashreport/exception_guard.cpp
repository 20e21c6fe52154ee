#include "crashreport/exception_guard.hpp"

#include "crashreport/crash_reporter.hpp"

namespace brindlex::detail {

namespace {

constexpr DWORD unwinding_flags = EXCEPTION_UNWINDING | EXCEPTION_EXIT_UNWIND;

seh_record* chain_head()
{
    seh_record* head;
    asm volatile("movl %%fs:0, %0" : "=r"(head));
    return head;
}

void set_chain_head(seh_record* head)
{
    asm volatile("movl %0, %%fs:0" : : "r"(head) : "memory");
}

}  // namespace

seh_frame::seh_frame(void* handler) : record{chain_head(), handler}
{
    set_chain_head(&record);
}

seh_frame::~seh_frame()
{
    set_chain_head(record.next);
}

extern "C" EXCEPTION_DISPOSITION __cdecl filter_frame_handler(EXCEPTION_RECORD* record, void*, CONTEXT* context, void*)
{
    if (record->ExceptionFlags & unwinding_flags)
        return ExceptionContinueSearch;
    EXCEPTION_POINTERS pointers{record, context};
    // Terminates the process unless the reporter is switched off.
    unhandled_exception_filter(&pointers);
    return ExceptionContinueSearch;
}

extern "C" EXCEPTION_DISPOSITION __cdecl quiet_frame_handler(EXCEPTION_RECORD* record, void*, CONTEXT*, void*)
{
    if (record->ExceptionFlags & unwinding_flags)
        return ExceptionContinueSearch;
    // The thread belongs to the crash path: whoever waits for it goes on.
    ExitThread(0);
}

extern "C" EXCEPTION_DISPOSITION __cdecl terminating_frame_handler(EXCEPTION_RECORD* record, void*, CONTEXT*, void*)
{
    if (record->ExceptionFlags & unwinding_flags)
        return ExceptionContinueSearch;
    // The crash being handled ends the process this way anyway.
    TerminateProcess(GetCurrentProcess(), crashed_exit_code);
    return ExceptionContinueSearch;
}

}  // namespace brindlex::detail
