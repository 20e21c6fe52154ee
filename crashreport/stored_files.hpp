// The stored reports in the temporary folder, as files: the pair n.bxo and
// n.bxr that a crash left when its upload failed, and the attempt record
// n.bxp that the start-up sender keeps beside it (attempt_record.hpp).
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "crashreport/attempt_record.hpp"
#include "stream/memory_file.hpp"

namespace brindlex::stored {

struct stored_pair {
    std::wstring stem;  // the folder and the file name without its extension
    std::uint64_t bxo_size = 0;
    std::uint64_t bxo_written = 0;  // file time
    bool has_bxr = false;
    // As read from n.bxp when it belongs to this .bxo report, else a fresh
    // one for it.
    attempt_record record;
};

// The pairs in `folder` (with its trailing backslash), in the order of their
// names. An attempt record or a .bxr report without its .bxo report is
// removed on the way: neither can ever be sent.
std::vector<stored_pair> list_pairs(const std::wstring& folder);

// Writes pair.record into n.bxp. Throws std::system_error when it cannot.
void write_record(const stored_pair& pair);

// Reads the stored report at `path` into `into`, replacing its content.
// Returns false when the file is larger than any report. Throws
// std::system_error "Odpiranje datoteke s poročilom o napaki %ls ni uspelo"
// when it cannot be opened (for example while its writer still has it
// open), and when reading it fails.
bool load_report(const std::wstring& path, fenrix::stream::memory_file& into);

// Removes n.bxr, n.bxo and n.bxp, in this order; a failure
// (std::filesystem::filesystem_error "remove") ends it and leaves the rest
// for a later start. n.bxo goes after n.bxr, so that the number
// stays taken while a report of the pair is left: a crash stored meanwhile
// takes another one and never has its .bxr report removed.
void remove_pair(const stored_pair& pair);

}  // namespace brindlex::stored
