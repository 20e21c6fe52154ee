// Decimal integers, and the digit recognition that the integer and address
// parsers share. Digits are given as parsers, so the grammar decides what a
// digit is.
#pragma once

#include <array>

#include "parser/basic_parser.hpp"

namespace fenrix::parser {

// The value of the first digit parser (in value order) that matches at `pos`,
// with `pos` moved to its end; SIZE_MAX, `pos` unchanged, when none matches
// or the one that matches consumes nothing.
template <class C, std::size_t N>
std::size_t match_digit(const std::array<std::shared_ptr<basic_parser<C>>, N>& digits, const C* text, std::size_t& pos,
                        std::size_t end, int flags)
{
    for (std::size_t value = 0; value < N; ++value) {
        auto& digit = *digits[value];
        if (digit.match(text, pos, end, flags)) {
            if (digit.interval.end <= pos)
                return SIZE_MAX;
            pos = digit.interval.end;
            return value;
        }
    }
    return SIZE_MAX;
}

template <class C>
class basic_integer : public basic_parser<C> {
public:
    std::size_t value = 0;

    explicit basic_integer(const std::locale& locale = std::locale()) : basic_parser<C>(locale) {}
    void invalidate() override;
};

// A run of decimal digits. The value wraps modulo 2^(bits of size_t) rather
// than failing: the caller decides which values it accepts.
template <class C>
class basic_integer10 : public basic_integer<C> {
public:
    using digit_parser = std::shared_ptr<basic_parser<C>>;
    // Parsers for the digit values 0 to 9, in this order.
    std::array<digit_parser, 10> digits;

    basic_integer10(digit_parser d0, digit_parser d1, digit_parser d2, digit_parser d3, digit_parser d4,
                    digit_parser d5, digit_parser d6, digit_parser d7, digit_parser d8, digit_parser d9,
                    const std::locale& locale = std::locale());
    bool match(const C* text, std::size_t start, std::size_t end, int flags) override;
};

extern template class basic_integer<char>;
extern template class basic_integer10<char>;

}  // namespace fenrix::parser
