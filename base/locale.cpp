#include "base/locale.hpp"

#include "base/startup_order.hpp"

namespace fenrix {

// Process-wide objects start in a fixed order: the locales come before
// anything that formats (the crash reporter, the platform name).
wembra::crt_locale c_locale __attribute__((init_priority(startup_order::locales))) ("C");
wembra::crt_locale utf8_locale __attribute__((init_priority(startup_order::locales))) (".UTF-8");

}  // namespace fenrix
