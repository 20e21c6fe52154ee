#include "parser/ipv4_address.hpp"

#include <utility>

#include "parser/integer.hpp"

namespace fenrix::parser {

template <class C>
basic_ipv4_address<C>::basic_ipv4_address(part d0, part d1, part d2, part d3, part d4, part d5, part d6, part d7,
                                          part d8, part d9, part separator, const std::locale& locale)
    : basic_parser<C>(locale), digits{std::move(d0), std::move(d1), std::move(d2), std::move(d3), std::move(d4),
                                      std::move(d5), std::move(d6), std::move(d7), std::move(d8), std::move(d9)},
      separator(std::move(separator))
{
}

template <class C>
void basic_ipv4_address<C>::invalidate()
{
    for (auto& component : components)
        component.invalidate();
    value = 0;
    basic_parser<C>::invalidate();
}

template <class C>
bool basic_ipv4_address<C>::match(const C* text, std::size_t start, std::size_t end, int flags)
{
    std::size_t pos = start;
    std::uint32_t address = 0;
    for (std::size_t i = 0; i < components.size(); ++i) {
        if (i > 0) {
            if (!separator->match(text, pos, end, flags))
                break;
            pos = separator->interval.end;
        }
        components[i].start = pos;
        unsigned octet = 0;
        bool taken = false;
        while (!this->at_end(text, pos, end)) {
            std::size_t next = pos;
            const std::size_t digit = match_digit(digits, text, next, end, flags);
            if (digit == SIZE_MAX || octet * 10 + digit > 255)
                break;
            octet = static_cast<unsigned>(octet * 10 + digit);
            pos = next;
            taken = true;
        }
        if (!taken)
            break;
        components[i].end = pos;
        address = (address << 8) | octet;
        if (i + 1 == components.size()) {
            value = address;
            this->interval = {start, pos};
            return true;
        }
    }
    invalidate();
    return false;
}

template class basic_ipv4_address<char>;

}  // namespace fenrix::parser
