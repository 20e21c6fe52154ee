// The attempt record n.bxp beside a stored pair n.bxo/n.bxr: how many starts
// have offered the pair without an answer, and whether the server has asked
// for the .bxr report. It is written before each offer, so a sender that
// dies during the upload (the process crashes or is ended) has still
// counted it, and it needs nothing outside the temporary folder.
//
// Layout, 28 bytes, little-endian: "BXP1", offers u32, flags u32 (bit 0: the
// server answered the .bxo report with 449 and the .bxr report is still to
// go), the .bxo file's size u64, its last write time u64 (file time). A
// record whose size and time do not match the .bxo file beside it belongs to
// an earlier pair of the same number and counts as none.
#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>

namespace brindlex::stored {

struct attempt_record {
    std::uint32_t offers = 0;
    bool bxr_asked = false;
    std::uint64_t bxo_size = 0;
    std::uint64_t bxo_written = 0;
};

inline constexpr std::size_t attempt_record_size = 28;

void encode(const attempt_record& record, unsigned char (&out)[attempt_record_size]);

// The record in the first attempt_record_size bytes of `data`; none when
// they are missing or do not start with "BXP1".
std::optional<attempt_record> decode(const unsigned char* data, std::size_t size);

}  // namespace brindlex::stored
