// IPv6 addresses in hexadecimal groups, with "::" compression and an optional
// scope after a separator (fe80::1%12). There is no embedded IPv4 form.
#pragma once

#include <array>
#include <cstdint>

#include "parser/basic_parser.hpp"

namespace fenrix::parser {

template <class C>
class basic_ipv6_address : public basic_parser<C> {
public:
    using part = std::shared_ptr<basic_parser<C>>;

    // One interval per group; groups that "::" stands for are empty
    // intervals at the position of its second colon.
    std::array<parser::interval, 8> components;
    // Eight 16-bit groups in address order, each most significant byte first
    // (network order).
    std::array<std::uint8_t, 16> value{};
    part scope_id;  // may be empty: no scope is read
    // Parsers for the hexadecimal digit values 0 to 15, in this order.
    std::array<part, 16> digits;
    part separator;
    part scope_id_separator;

    basic_ipv6_address(part d0, part d1, part d2, part d3, part d4, part d5, part d6, part d7, part d8, part d9,
                       part d10, part d11, part d12, part d13, part d14, part d15, part separator,
                       part scope_id_separator, part scope_id, const std::locale& locale = std::locale());
    void invalidate() override;
    bool match(const C* text, std::size_t start, std::size_t end, int flags) override;

private:
    void set_group(std::size_t index, unsigned group);
    unsigned group(std::size_t index) const;
    void expand(std::size_t compressed, std::size_t groups, std::size_t mark);
    std::size_t match_scope(const C* text, std::size_t pos, std::size_t end, int flags);
};

extern template class basic_ipv6_address<char>;

}  // namespace fenrix::parser
