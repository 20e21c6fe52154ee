// Structured exception guards for a thread body, for a toolchain without
// __try/__except: the body is called from a function whose frame has an
// exception handler of the guard's (exception_guard.cpp says how each build
// registers it), so that the handler sees a system exception inside the body
// before anything further up the stack does.
//
// run_guarded(body): any system exception (access violation, division by
// zero, stack overflow, ...) that nothing inside `body` handles goes to the
// crash reporter's filter right where it happened, as a __try with the
// filter expression unhandled_exception_filter(GetExceptionInformation())
// would. A thrown C++ object that nothing catches reaches the reporter too,
// through its terminate handler, with the throwing function's frame still on
// the stack; run_guarded therefore catches nothing itself.
#pragma once

#include <optional>
#include <type_traits>
#include <utility>

namespace brindlex {

namespace detail {

// What the handler of a guard's frame does with a system exception.
enum class guard {
    filter,       // hands it to the crash reporter's filter
    quiet,        // ends the thread with exit code 0
    terminating,  // terminates the process with exit code 0xFFFFFFFF
};

using guarded_call = void (*)(void*);

// Calls call(argument) in a frame guarded by `kind`. Thrown C++ exceptions
// pass through.
void call_in_guard(guard kind, guarded_call call, void* argument);

template <class Callable>
void invoke(void* callable)
{
    (*static_cast<Callable*>(callable))();
}

template <class Callable>
void call_in_guard(guard kind, Callable& callable)
{
    call_in_guard(kind, &invoke<Callable>, &callable);
}

}  // namespace detail

// Runs body; a crash inside it is handled by the crash reporter (which ends
// the process). Returns what body returns.
template <class Body>
auto run_guarded(Body&& body)
{
    using result = decltype(std::forward<Body>(body)());
    if constexpr (std::is_void_v<result>) {
        auto call = [&body] { std::forward<Body>(body)(); };
        detail::call_in_guard(detail::guard::filter, call);
    } else {
        static_assert(!std::is_reference_v<result>, "run_guarded passes values on, not references");
        std::optional<result> value;
        auto call = [&body, &value] { value.emplace(std::forward<Body>(body)()); };
        detail::call_in_guard(detail::guard::filter, call);
        return result(std::move(*value));
    }
}

namespace detail {

// Runs body in a frame guarded by `kind` with every thrown exception caught;
// returns whether body completed.
template <class Body>
bool run_catching(guard kind, Body&& body) noexcept
{
    auto call = [&body] { std::forward<Body>(body)(); };
    try {
        call_in_guard(kind, call);
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
    return detail::run_catching(detail::guard::quiet, std::forward<Body>(body));
}

// Runs body in a thread that is already handling a crash: a system exception
// inside it terminates the process with exit code 0xFFFFFFFF at once, a thrown
// exception ends the call. Returns whether body completed.
template <class Body>
bool run_contained(Body&& body) noexcept
{
    return detail::run_catching(detail::guard::terminating, std::forward<Body>(body));
}

}  // namespace brindlex
