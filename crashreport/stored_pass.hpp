// One pass over the stored reports at a program start: each pair is offered
// to the server and removed once the server has answered it, or dropped by
// the bounds of stored_policy.hpp; what went unanswered stays for the next
// start.
#pragma once

#include <windows.h>

namespace brindlex {

// Runs the pass; `stop` is an event that, once set, ends an upload in flight
// and the pass with it (the process is about to exit). Only one process at a
// time makes a pass: another one that holds the mutex "TeskPosiljanjeIzjem"
// for more than a second makes this one give up. Throws what ends the pass
// before its first upload (the mutex, the temporary folder, the WinHTTP
// session); a failure with one pair only ends that pair's turn.
void run_stored_report_pass(HANDLE stop);

}  // namespace brindlex
