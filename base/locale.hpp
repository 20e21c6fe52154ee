// The process-wide C runtime locales passed explicitly to every formatting
// call: "C" for numbers in messages, UTF-8 for narrow texts made from UTF-16
// arguments. Built by static initialisers before the entry point.
#pragma once

#include "win/format.hpp"

namespace fenrix {

extern wembra::crt_locale c_locale;
extern wembra::crt_locale utf8_locale;

}  // namespace fenrix
