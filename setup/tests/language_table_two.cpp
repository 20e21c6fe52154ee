// A two-language table for the test build of the program, so that the
// language page and its navigation to the progress page can be exercised.
#include "setup/languages.hpp"

namespace fenrix {

const language_entry languages[] = {
    {0x0424, "", L"Sloven\u0161\u010dina"},
    {0x0409, ".en", L"English"},
    {0, nullptr, nullptr},
};

}  // namespace fenrix
