// The sender of stored reports, started at installation. The program shows
// its dialog after at most startup_wait_ms; the sender goes on meanwhile, and
// the program gives it at most exit_wait_ms more before it exits. What the
// server has not answered by then stays stored for the next start.
#pragma once

namespace brindlex {

inline constexpr unsigned long wait_forever = 0xFFFFFFFFul;
inline constexpr unsigned long startup_wait_ms = 2000;
inline constexpr unsigned long exit_wait_ms = 2000;

// Returns once the start-up sender has ended, or after `milliseconds`; at
// once when none was started. A crash of the sender while someone waits here
// is still handled: the wait does not hold the reporter's lock.
void wait_for_startup_sender(unsigned long milliseconds);

// Before the process exits: waits for the start-up sender for at most
// `milliseconds`, ending its upload in flight towards the end of that time,
// so that nothing of it runs on while the process takes down what it uses.
// Returns at once when none was started or it has ended; calling it again is
// harmless. The library calls it itself at exit, should the program not.
void finish_startup_sender(unsigned long milliseconds = exit_wait_ms);

}  // namespace brindlex
