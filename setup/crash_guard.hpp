// Where the setup application meets the crash reporter: the entry point's
// waits for the start-up sender of stored reports, and the guard around the
// worker's body whose filter turns a crash there into a report.
#pragma once

#include <functional>

namespace fenrix {

// Returns once the crash reporter's start-up sender of stored reports has
// ended, at once when none was started, and after two seconds at the most:
// the sender goes on while the dialog is up.
void wait_for_crash_reporter_startup();

// Before the process exits: gives the start-up sender at most two more
// seconds; what the server has not answered by then stays stored.
void finish_crash_reporter_startup();

// Runs body inside the crash reporter's structured exception guard.
void run_with_crash_filter(const std::function<void()>& body);

}  // namespace fenrix
