#include "parser/character.hpp"

namespace fenrix::parser {

template <class C>
std::basic_string<C> bounded_string(const C* str, std::size_t count)
{
    std::size_t n = 0;
    while (n < count && str[n] != C())
        ++n;
    return std::basic_string<C>(str, n);
}

template <class C>
basic_cu<C>::basic_cu(C chr, bool invert, const std::locale& locale) : basic_parser<C>(locale), chr(chr), invert(invert)
{
}

template <class C>
bool basic_cu<C>::match(const C* text, std::size_t start, std::size_t end, int flags)
{
    if (!this->at_end(text, start, end) && this->same(text[start], chr, flags) != invert) {
        this->interval = {start, start + 1};
        return true;
    }
    this->invalidate();
    return false;
}

template <class C>
void basic_set<C>::invalidate()
{
    hit_offset = SIZE_MAX;
    basic_parser<C>::invalidate();
}

template <class C>
basic_cu_set<C>::basic_cu_set(const C* set, std::size_t count, bool invert, const std::locale& locale)
    : basic_set<C>(invert, locale), set(bounded_string(set, count))
{
}

template <class C>
bool basic_cu_set<C>::match(const C* text, std::size_t start, std::size_t end, int flags)
{
    if (!this->at_end(text, start, end)) {
        std::size_t found = SIZE_MAX;
        for (std::size_t i = 0; i < set.size() && set[i] != C(); ++i) {
            if (this->same(text[start], set[i], flags)) {
                found = i;
                break;
            }
        }
        if ((found != SIZE_MAX) != this->invert) {
            this->hit_offset = found;
            this->interval = {start, start + 1};
            return true;
        }
    }
    this->invalidate();
    return false;
}

template class basic_cu<char>;
template class basic_set<char>;
template class basic_cu_set<char>;
template std::string bounded_string<char>(const char*, std::size_t);

}  // namespace fenrix::parser
