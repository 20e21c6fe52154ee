// Where the setup application meets the crash reporter: the entry point's
// wait for the start-up sender of stored reports, and the guard around the
// worker's body whose filter turns a crash there into a report.
#pragma once

#include <functional>

namespace fenrix {

// Returns once the crash reporter's start-up sender has ended, at once when
// none was started. No time limit.
void wait_for_crash_reporter_startup();

// Runs body inside the crash reporter's structured exception guard.
void run_with_crash_filter(const std::function<void()>& body);

}  // namespace fenrix
