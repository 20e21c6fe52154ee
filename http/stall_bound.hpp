// The least a transfer must move to be left running. WinHTTP's time-outs
// only notice silence: a server that sends a byte now and then, or answers
// a request with nothing for minutes, would hold a request forever (and with
// it the user, who may be looking at a progress bar that never moves).
#pragma once

#include <cstdint>

namespace hopline {

// A request that moves fewer than `min_bytes` (response head, body, or
// uploaded body) within `window_ms` ends with an error.
struct stall_bound {
    std::uint32_t window_ms;
    std::uint32_t min_bytes;
};

inline constexpr std::uint32_t default_stall_window_ms = 60000;
inline constexpr std::uint32_t default_stall_min_bytes = 1024;
inline constexpr stall_bound default_stall_bound{default_stall_window_ms, default_stall_min_bytes};

}  // namespace hopline
