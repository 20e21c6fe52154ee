// This build's language table: Slovenian only, so the language page is never
// shown and package names carry no language code.
#include "setup/languages.hpp"

namespace fenrix {

const language_entry languages[] = {
    {0x0424, "", L"Sloven\u0161\u010dina"},
    {0, nullptr, nullptr},
};

}  // namespace fenrix
