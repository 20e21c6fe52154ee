// Recognises the "untrusted comment:" prefix that opens the free-text lines
// of a Minisign file. The comparison is exact and case-sensitive whatever the
// flags say: a different spelling is not a comment and is decoded instead.
#pragma once

#include "parser/basic_parser.hpp"

namespace fenrix::minisign {

class untrusted_comment : public parser::basic_parser<char> {
public:
    using basic_parser::basic_parser;

    bool match(const char* text, std::size_t start, std::size_t end, int flags) override;
};

}  // namespace fenrix::minisign
