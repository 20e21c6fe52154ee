// Structured exception guards for a thread body, for a toolchain without
// __try/__except: a handler registered by hand at the head of the thread's
// SEH chain (the TEB's ExceptionList) for as long as the guard's scope lasts.
//
// run_guarded(body): any system exception (access violation, division by
// zero, stack overflow, ...) that nothing inside `body` handles goes to the
// crash reporter's filter right where it happened, as a __try with the
// filter expression unhandled_exception_filter(GetExceptionInformation())
// would. A thrown C++ object that nothing catches reaches the reporter too,
// through its terminate handler, with the throwing function's frame still on
// the stack; run_guarded therefore catches nothing itself.
#pragma once

#include <windows.h>

#include <utility>

namespace brindlex {

namespace detail {

struct seh_record {
    seh_record* next;
    void* handler;
};

// Keeps `handler` registered at the head of the calling thread's SEH chain
// while the object lives. It must live on the stack of that thread and be
// destroyed in reverse order of construction (a local variable does both).
class seh_frame {
public:
    explicit seh_frame(void* handler);
    ~seh_frame();
    seh_frame(const seh_frame&) = delete;
    seh_frame& operator=(const seh_frame&) = delete;

private:
    seh_record record;
};

extern "C" EXCEPTION_DISPOSITION __cdecl filter_frame_handler(EXCEPTION_RECORD*, void*, CONTEXT*, void*);
extern "C" EXCEPTION_DISPOSITION __cdecl quiet_frame_handler(EXCEPTION_RECORD*, void*, CONTEXT*, void*);
extern "C" EXCEPTION_DISPOSITION __cdecl terminating_frame_handler(EXCEPTION_RECORD*, void*, CONTEXT*, void*);

}  // namespace detail

// Runs body; a crash inside it is handled by the crash reporter (which ends
// the process). Returns what body returns.
template <class Body>
decltype(auto) run_guarded(Body&& body)
{
    detail::seh_frame frame(reinterpret_cast<void*>(&detail::filter_frame_handler));
    return std::forward<Body>(body)();
}

namespace detail {

// Runs body with `handler` at the head of the SEH chain and every thrown
// exception caught; returns whether body completed.
template <class Body>
bool run_catching(void* handler, Body&& body) noexcept
{
    seh_frame frame(handler);
    try {
        std::forward<Body>(body)();
        return true;
    } catch (...) {
        return false;
    }
}

}  // namespace detail

// Runs body and ends the calling thread quietly (exit code 0) on any system
// exception inside it; a thrown exception of any type is caught and ends the
// call. For threads of the crash path itself, which must never re-enter the
// reporter. Returns whether body completed.
template <class Body>
bool run_quietly(Body&& body) noexcept
{
    return detail::run_catching(reinterpret_cast<void*>(&detail::quiet_frame_handler), std::forward<Body>(body));
}

// Runs body in a thread that is already handling a crash: a system exception
// inside it terminates the process with exit code 0xFFFFFFFF at once, a thrown
// exception ends the call. Returns whether body completed.
template <class Body>
bool run_contained(Body&& body) noexcept
{
    return detail::run_catching(reinterpret_cast<void*>(&detail::terminating_frame_handler), std::forward<Body>(body));
}

}  // namespace brindlex
