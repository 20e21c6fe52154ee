#include "setup/base/locale.hpp"

namespace fenrix {

// Process-wide objects start in a fixed order: the locales come before
// anything that formats (the crash reporter, the platform name).
wembra::crt_locale c_locale __attribute__((init_priority(1000)))("C");
wembra::crt_locale utf8_locale __attribute__((init_priority(1000)))(".UTF-8");

}  // namespace fenrix
