#include "parser/dns_name.hpp"

#include <utility>

namespace fenrix::parser {

template <class C>
basic_dns_domain_char<C>::basic_dns_domain_char(bool allow_idn, const std::locale& locale)
    : basic_parser<C>(locale), allow_idn(allow_idn)
{
}

template <class C>
bool basic_dns_domain_char<C>::match(const C* text, std::size_t start, std::size_t end, int)
{
    if (!this->at_end(text, start, end)) {
        const C c = text[start];
        const bool ascii_alnum =
            (c >= C('a') && c <= C('z')) || (c >= C('A') && c <= C('Z')) || (c >= C('0') && c <= C('9'));
        if (ascii_alnum || c == C('-') || (allow_idn && this->locale_alnum(c))) {
            is_alnum = c != C('-');
            this->interval = {start, start + 1};
            return true;
        }
    }
    this->invalidate();
    return false;
}

template <class C>
basic_dns_name<C>::basic_dns_name(bool allow_absolute, std::shared_ptr<basic_dns_domain_char<C>> domain_char,
                                  std::shared_ptr<basic_parser<C>> separator, const std::locale& locale)
    : basic_parser<C>(locale), allow_absolute(allow_absolute), domain_char(std::move(domain_char)),
      separator(std::move(separator))
{
}

template <class C>
bool basic_dns_name<C>::match(const C* text, std::size_t start, std::size_t end, int flags)
{
    auto& character = *domain_char;
    std::size_t labels = 0;
    std::size_t pos = start;
    std::size_t match_end = start;
    auto succeed = [&] {
        this->interval = {start, match_end};
        return true;
    };
    // Each pass reads one label and the dot after it.
    while (pos < end && text[pos] != C() && labels < max_labels) {
        if (!character.match(text, pos, end, flags) || !character.is_alnum)
            break;
        pos = match_end = character.interval.end;
        for (;;) {
            if (this->at_end(text, pos, end))
                return succeed();  // the last label ends here
            if (character.is_alnum && separator->match(text, pos, end, flags)) {
                if (!allow_absolute)
                    match_end = pos;
                pos = separator->interval.end;
                if (allow_absolute)
                    match_end = pos;
                ++labels;
                if (pos >= end)
                    return succeed();
                break;
            }
            if (!character.match(text, pos, end, flags))
                return succeed();
            pos = character.interval.end;
            if (character.is_alnum)
                match_end = pos;
        }
    }
    if (labels == 0) {
        this->invalidate();
        return false;
    }
    return succeed();
}

template class basic_dns_name<char>;
template class basic_dns_domain_char<char>;

}  // namespace fenrix::parser
