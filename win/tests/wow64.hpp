// For tests whose outcome depends on WOW64: whether this 32-bit process runs
// on 64-bit Windows, and whether the test run asked for that. wine-run.sh
// exports WINEARCH, which Wine hands on to the Windows environment. The
// win64 build runs these tests as 64-bit processes, where the cases about
// the 32-bit program do not apply: they skip with a reason there.
#pragma once

#include <windows.h>

#include <cstdlib>
#include <cstring>

namespace wembra::testing {

inline constexpr bool sixty_four_bit_process = sizeof(void*) == 8;
inline constexpr const char* not_the_32_bit_program =
    "a 64-bit process (the win64 build): the case is about the 32-bit program";

inline bool under_wow64()
{
    BOOL wow64 = FALSE;
    return IsWow64Process(GetCurrentProcess(), &wow64) && wow64;
}

inline bool run_asks_for_wow64()
{
    const char* arch = std::getenv("WINEARCH");
    return arch && std::strcmp(arch, "win64") == 0;
}

}  // namespace wembra::testing
