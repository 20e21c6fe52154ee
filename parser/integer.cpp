#include "parser/integer.hpp"

#include <utility>

namespace fenrix::parser {

template <class C>
void basic_integer<C>::invalidate()
{
    value = 0;
    basic_parser<C>::invalidate();
}

template <class C>
basic_integer10<C>::basic_integer10(digit_parser d0, digit_parser d1, digit_parser d2, digit_parser d3, digit_parser d4,
                                    digit_parser d5, digit_parser d6, digit_parser d7, digit_parser d8, digit_parser d9,
                                    const std::locale& locale)
    : basic_integer<C>(locale), digits{std::move(d0), std::move(d1), std::move(d2), std::move(d3), std::move(d4),
                                       std::move(d5), std::move(d6), std::move(d7), std::move(d8), std::move(d9)}
{
}

template <class C>
bool basic_integer10<C>::match(const C* text, std::size_t start, std::size_t end, int flags)
{
    std::size_t pos = start;
    std::size_t value = 0;
    while (!this->at_end(text, pos, end)) {
        const std::size_t digit = match_digit(digits, text, pos, end, flags);
        if (digit == SIZE_MAX)
            break;
        value = value * 10 + digit;
    }
    if (pos == start) {
        this->invalidate();
        return false;
    }
    this->value = value;
    this->interval = {start, pos};
    return true;
}

template class basic_integer<char>;
template class basic_integer10<char>;

}  // namespace fenrix::parser
