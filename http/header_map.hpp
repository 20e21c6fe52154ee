// Extra request headers: names ordered and compared without regard to the
// case of ASCII letters, so "pragma" and "Pragma" are one key.
#pragma once

#include <map>
#include <string>

#include "win/strings.hpp"

namespace hopline {

struct header_name_less {
    // Only A-Z fold; bytes compare as unsigned; a prefix sorts first.
    bool operator()(const std::string& a, const std::string& b) const
    {
        return wembra::ascii_compare_nocase(a.c_str(), b.c_str()) < 0;
    }
};

using header_map = std::map<std::string, std::string, header_name_less>;

}  // namespace hopline
