// The sender of stored reports, started at installation on a thread of its
// own. The entry point waits for it before it shows anything.
#pragma once

namespace brindlex {

inline constexpr unsigned long wait_forever = 0xFFFFFFFFul;

// Returns once the start-up sender has ended, or after `milliseconds`; at
// once when none was started. A crash of the sender while someone waits here
// is still handled: the wait does not hold the reporter's lock.
void wait_for_startup_sender(unsigned long milliseconds = wait_forever);

}  // namespace brindlex
