#include "crashreport/exception_guard.hpp"

#include <windows.h>

#include "crashreport/crash_reporter.hpp"

namespace brindlex::detail {

namespace {

constexpr DWORD unwinding_flags = EXCEPTION_UNWINDING | EXCEPTION_EXIT_UNWIND;

// The exceptions a guard leaves alone: the unwinding passes, and (on x64)
// the C++ exceptions GCC's unwinder raises, which belong to the C++ code
// around the guard.
bool passes_guard(const EXCEPTION_RECORD& record)
{
    return (record.ExceptionFlags & unwinding_flags) || raised_by_gcc_unwinder(record);
}

}  // namespace

// The handlers are called with the exception context of the fault, while
// every frame up to the fault is still on the stack.

extern "C" EXCEPTION_DISPOSITION __cdecl filter_frame_handler(EXCEPTION_RECORD* record, void*, CONTEXT* context, void*)
{
    if (passes_guard(*record))
        return ExceptionContinueSearch;
    EXCEPTION_POINTERS pointers{record, context};
    // Terminates the process unless the reporter is switched off.
    unhandled_exception_filter(&pointers);
    return ExceptionContinueSearch;
}

extern "C" EXCEPTION_DISPOSITION __cdecl quiet_frame_handler(EXCEPTION_RECORD* record, void*, CONTEXT*, void*)
{
    if (passes_guard(*record))
        return ExceptionContinueSearch;
    // The thread belongs to the crash path: whoever waits for it goes on.
    ExitThread(0);
}

extern "C" EXCEPTION_DISPOSITION __cdecl terminating_frame_handler(EXCEPTION_RECORD* record, void*, CONTEXT*, void*)
{
    if (passes_guard(*record))
        return ExceptionContinueSearch;
    // The crash being handled ends the process this way anyway.
    TerminateProcess(GetCurrentProcess(), crashed_exit_code);
    return ExceptionContinueSearch;
}

#ifdef _WIN64

namespace {

// On x64 a frame's exception handler is named in the unwind data of its
// function, so each guard is a function of its own that only makes the call.
// GCC adds no handler of its own to them: they have nothing to clean up. The
// nop keeps the return address inside the function, where the system looks
// for the frame's handler.
__attribute__((noinline)) void call_with_filter_handler(guarded_call call, void* argument)
{
    asm volatile(".seh_handler filter_frame_handler, @except");
    call(argument);
    asm volatile("nop" ::: "memory");
}

__attribute__((noinline)) void call_with_quiet_handler(guarded_call call, void* argument)
{
    asm volatile(".seh_handler quiet_frame_handler, @except");
    call(argument);
    asm volatile("nop" ::: "memory");
}

__attribute__((noinline)) void call_with_terminating_handler(guarded_call call, void* argument)
{
    asm volatile(".seh_handler terminating_frame_handler, @except");
    call(argument);
    asm volatile("nop" ::: "memory");
}

}  // namespace

void call_in_guard(guard kind, guarded_call call, void* argument)
{
    switch (kind) {
    case guard::filter:
        keep_stack_for_crash();
        call_with_filter_handler(call, argument);
        break;
    case guard::quiet:
        call_with_quiet_handler(call, argument);
        break;
    case guard::terminating:
        call_with_terminating_handler(call, argument);
        break;
    }
}

#else

namespace {

// On i386 a thread's exception handlers form a chain of records on its
// stack, its head in the thread information block (fs:0); a guard puts a
// record of its own at the head for as long as the call lasts.
struct seh_record {
    seh_record* next;
    void* handler;
};

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

// Keeps `handler` at the head of the calling thread's chain while it lives;
// taken off again also when a C++ exception unwinds through it.
class seh_frame {
public:
    explicit seh_frame(void* handler) : record{chain_head(), handler} { set_chain_head(&record); }
    ~seh_frame() { set_chain_head(record.next); }
    seh_frame(const seh_frame&) = delete;
    seh_frame& operator=(const seh_frame&) = delete;

private:
    seh_record record;
};

void* handler_of(guard kind)
{
    switch (kind) {
    case guard::quiet:
        return reinterpret_cast<void*>(&quiet_frame_handler);
    case guard::terminating:
        return reinterpret_cast<void*>(&terminating_frame_handler);
    case guard::filter:
    default:
        return reinterpret_cast<void*>(&filter_frame_handler);
    }
}

}  // namespace

void call_in_guard(guard kind, guarded_call call, void* argument)
{
    if (kind == guard::filter)
        keep_stack_for_crash();
    seh_frame frame(handler_of(kind));
    call(argument);
}

#endif

}  // namespace brindlex::detail
