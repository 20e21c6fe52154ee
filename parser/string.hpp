// Matches a fixed text.
#pragma once

#include <string>

#include "parser/basic_parser.hpp"

namespace fenrix::parser {

// Matches exactly the characters of `str`, so it needs start + size <= end.
template <class C>
class basic_string : public basic_parser<C> {
public:
    std::basic_string<C> str;

    // `str` is taken up to `count` characters or its first NUL.
    explicit basic_string(const C* str, std::size_t count = SIZE_MAX, const std::locale& locale = std::locale());
    bool match(const C* text, std::size_t start, std::size_t end, int flags) override;
};

extern template class basic_string<char>;

}  // namespace fenrix::parser
