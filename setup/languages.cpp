#include "setup/languages.hpp"

namespace fenrix {

language_choice choose_language(const language_entry* table, std::uint16_t user_langid)
{
    language_choice choice{table[0].langid ? &table[0] : nullptr, 0};
    const language_entry* match = nullptr;
    for (const language_entry* entry = table; entry->langid; ++entry) {
        if (entry->langid == user_langid)
            match = entry;
        ++choice.count;
    }
    if (match)
        choice.language = match;
    return choice;
}

}  // namespace fenrix
