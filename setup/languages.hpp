// The user-interface languages built into the program and the choice among
// them. Portable: the language identifier is a plain 16-bit number.
#pragma once

#include <cstdint>

namespace fenrix {

struct language_entry {
    std::uint16_t langid;  // primary and sub-language together
    const char* code;      // appended to package and log file names
    const wchar_t* name;   // the language's own name, on its choice button
};

// Closed by a record whose langid is 0. Each program defines its own table.
extern const language_entry languages[];

struct language_choice {
    const language_entry* language;
    std::uint32_t count;  // records before the terminator
};

// The last record whose langid equals user_langid in all 16 bits; the first
// record when none does (or null for an empty table).
language_choice choose_language(const language_entry* table, std::uint16_t user_langid);

}  // namespace fenrix
