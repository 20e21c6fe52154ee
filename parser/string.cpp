#include "parser/string.hpp"

#include <algorithm>

#include "parser/character.hpp"

namespace fenrix::parser {

template <class C>
basic_string<C>::basic_string(const C* str, std::size_t count, const std::locale& locale)
    : basic_parser<C>(locale), str(bounded_string(str, count))
{
}

template <class C>
bool basic_string<C>::match(const C* text, std::size_t start, std::size_t end, int flags)
{
    const std::size_t n = str.size();
    const std::size_t len = start >= end ? 0 : std::min(n, end - start);
    std::size_t i = 0;
    for (; i < len; ++i) {
        if (text[start + i] == C() && str[i] == C())
            break;
        // A NUL in the text differs from every character of `str`, so the
        // comparison stops there and never reads past it.
        if (!this->same(text[start + i], str[i], flags)) {
            this->invalidate();
            return false;
        }
    }
    if (i < n && str[i] != C()) {
        this->invalidate();
        return false;
    }
    this->interval = {start, start + i};
    return true;
}

template class basic_string<char>;

}  // namespace fenrix::parser
