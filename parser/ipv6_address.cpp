#include "parser/ipv6_address.hpp"

#include <utility>

#include "parser/integer.hpp"

namespace fenrix::parser {

template <class C>
basic_ipv6_address<C>::basic_ipv6_address(part d0, part d1, part d2, part d3, part d4, part d5, part d6, part d7,
                                          part d8, part d9, part d10, part d11, part d12, part d13, part d14, part d15,
                                          part separator, part scope_id_separator, part scope_id,
                                          const std::locale& locale)
    : basic_parser<C>(locale),
      scope_id(std::move(scope_id)), digits{std::move(d0),  std::move(d1),  std::move(d2),  std::move(d3),
                                            std::move(d4),  std::move(d5),  std::move(d6),  std::move(d7),
                                            std::move(d8),  std::move(d9),  std::move(d10), std::move(d11),
                                            std::move(d12), std::move(d13), std::move(d14), std::move(d15)},
      separator(std::move(separator)), scope_id_separator(std::move(scope_id_separator))
{
}

template <class C>
void basic_ipv6_address<C>::invalidate()
{
    for (auto& component : components)
        component.invalidate();
    value.fill(0);
    if (scope_id)
        scope_id->invalidate();
    basic_parser<C>::invalidate();
}

template <class C>
void basic_ipv6_address<C>::set_group(std::size_t index, unsigned group)
{
    value[2 * index] = static_cast<std::uint8_t>(group >> 8);
    value[2 * index + 1] = static_cast<std::uint8_t>(group & 0xFF);
}

template <class C>
unsigned basic_ipv6_address<C>::group(std::size_t index) const
{
    return (unsigned{value[2 * index]} << 8) | value[2 * index + 1];
}

// Moves the groups read after "::" (from `compressed` up to `groups`) to the
// end of the address and fills the gap with zero groups at `mark`.
template <class C>
void basic_ipv6_address<C>::expand(std::size_t compressed, std::size_t groups, std::size_t mark)
{
    const std::size_t moved = groups - compressed;
    const std::size_t first_moved = components.size() - moved;
    for (std::size_t k = moved; k-- > 0;) {
        components[first_moved + k] = components[compressed + k];
        set_group(first_moved + k, group(compressed + k));
    }
    for (std::size_t i = compressed; i < first_moved; ++i) {
        components[i] = {mark, mark};
        set_group(i, 0);
    }
}

// The position after the scope, or `pos` when there is none.
template <class C>
std::size_t basic_ipv6_address<C>::match_scope(const C* text, std::size_t pos, std::size_t end, int flags)
{
    if (scope_id_separator && scope_id && scope_id_separator->match(text, pos, end, flags) &&
        scope_id->match(text, scope_id_separator->interval.end, end, flags))
        return scope_id->interval.end;
    if (scope_id)
        scope_id->invalidate();
    return pos;
}

template <class C>
bool basic_ipv6_address<C>::match(const C* text, std::size_t start, std::size_t end, int flags)
{
    constexpr std::size_t none = SIZE_MAX;
    std::size_t pos = start;
    std::size_t compressed = none;
    std::size_t mark = start;
    std::size_t i = 0;
    value.fill(0);
    while (i < components.size()) {
        if (separator->match(text, pos, end, flags)) {
            pos = separator->interval.end;
            if (separator->match(text, pos, end, flags)) {
                // A second "::" ends the address after its first colon.
                if (compressed != none)
                    break;
                compressed = i;
                mark = pos;
                pos = separator->interval.end;
            } else if (i == 0) {
                invalidate();
                return false;
            }
        } else if (i > 0) {
            break;
        }
        components[i].start = pos;
        unsigned group = 0;
        bool taken = false;
        while (!this->at_end(text, pos, end)) {
            std::size_t next = pos;
            const std::size_t digit = match_digit(digits, text, next, end, flags);
            if (digit == SIZE_MAX || ((group << 4) | digit) > 0xFFFF)
                break;
            group = static_cast<unsigned>((group << 4) | digit);
            pos = next;
            taken = true;
        }
        if (!taken) {
            // After "::" the address may end here, even right after a colon.
            if (compressed != none)
                break;
            invalidate();
            return false;
        }
        components[i].end = pos;
        set_group(i, group);
        ++i;
    }
    if (compressed != none) {
        expand(compressed, i, mark);
    } else if (i != components.size()) {
        invalidate();
        return false;
    }
    pos = match_scope(text, pos, end, flags);
    this->interval = {start, pos};
    return true;
}

template class basic_ipv6_address<char>;

}  // namespace fenrix::parser
