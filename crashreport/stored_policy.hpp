// How long stored reports are kept. A report is removed once the server has
// answered it; until then it waits for the next start, but not for ever: a
// machine that stays offline, or a server that never answers, must not fill
// the temporary folder. Times are Windows file times (100 ns since 1601).
#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

namespace brindlex::stored {

// A pair offered at this many starts without an answer is dropped.
inline constexpr std::uint32_t max_offers = 5;
// A pair written longer ago than this is dropped.
inline constexpr std::uint64_t max_age = std::uint64_t(30) * 24 * 60 * 60 * 10'000'000;
// The folder keeps at most this many pairs; the oldest go first.
inline constexpr std::size_t max_pairs = 20;

struct pair_state {
    std::uint64_t written;  // the .bxo report's last write time: when the crash was stored
    std::uint32_t offers;   // starts at which it went out without an answer
};

struct pass_plan {
    std::vector<std::size_t> drop;  // indices into the pairs, in their order
    std::vector<std::size_t> send;  // oldest first; equal times in the pairs' order
};

// What a start does with the pairs it found at `now`.
pass_plan plan_pass(const std::vector<pair_state>& pairs, std::uint64_t now);

}  // namespace brindlex::stored
