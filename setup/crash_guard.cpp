#include "setup/crash_guard.hpp"

#include "crashreport/exception_guard.hpp"
#include "crashreport/startup_sender.hpp"

namespace fenrix {

void wait_for_crash_reporter_startup()
{
    brindlex::wait_for_startup_sender(brindlex::startup_wait_ms);
}

void finish_crash_reporter_startup()
{
    brindlex::finish_startup_sender(brindlex::exit_wait_ms);
}

void run_with_crash_filter(const std::function<void()>& body)
{
    brindlex::run_guarded(body);
}

}  // namespace fenrix
