// Single-character parsers: one given character, or one member of a set.
#pragma once

#include <string>

#include "parser/basic_parser.hpp"

namespace fenrix::parser {

// Matches the character `chr`; inverted, any character but `chr`. Never
// matches at the end of input.
template <class C>
class basic_cu : public basic_parser<C> {
public:
    C chr;
    bool invert;

    explicit basic_cu(C chr, bool invert = false, const std::locale& locale = std::locale());
    bool match(const C* text, std::size_t start, std::size_t end, int flags) override;
};

// A one-character parser that also reports which member matched.
template <class C>
class basic_set : public basic_parser<C> {
public:
    // Index of the member that matched, SIZE_MAX when none did.
    std::size_t hit_offset = SIZE_MAX;
    bool invert;

    explicit basic_set(bool invert = false, const std::locale& locale = std::locale())
        : basic_parser<C>(locale), invert(invert)
    {
    }
    void invalidate() override;
};

// Matches one character of `set` (the first equal member wins); inverted, any
// character outside it.
template <class C>
class basic_cu_set : public basic_set<C> {
public:
    std::basic_string<C> set;

    // `set` is taken up to `count` characters or its first NUL.
    explicit basic_cu_set(const C* set, std::size_t count = SIZE_MAX, bool invert = false,
                          const std::locale& locale = std::locale());
    bool match(const C* text, std::size_t start, std::size_t end, int flags) override;
};

// The text of `str` up to `count` characters or its first NUL.
template <class C>
std::basic_string<C> bounded_string(const C* str, std::size_t count);

extern template class basic_cu<char>;
extern template class basic_set<char>;
extern template class basic_cu_set<char>;
extern template std::string bounded_string<char>(const char*, std::size_t);

}  // namespace fenrix::parser
