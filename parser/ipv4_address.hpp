// Dotted IPv4 addresses.
#pragma once

#include <array>
#include <cstdint>

#include "parser/basic_parser.hpp"

namespace fenrix::parser {

// Four decimal components separated by `separator`. Leading zeros are read in
// decimal; a digit that would take a component above 255 is left unread, so
// the text 1.2.3.256 matches as 1.2.3.25. Nothing is required after the
// fourth component.
template <class C>
class basic_ipv4_address : public basic_parser<C> {
public:
    using part = std::shared_ptr<basic_parser<C>>;

    std::array<parser::interval, 4> components;
    // The first component in the most significant byte.
    std::uint32_t value = 0;
    std::array<part, 10> digits;
    part separator;

    basic_ipv4_address(part d0, part d1, part d2, part d3, part d4, part d5, part d6, part d7, part d8, part d9,
                       part separator, const std::locale& locale = std::locale());
    void invalidate() override;
    bool match(const C* text, std::size_t start, std::size_t end, int flags) override;
};

extern template class basic_ipv4_address<char>;

}  // namespace fenrix::parser
