// Host names: dot-separated labels of letters, digits and hyphens.
#pragma once

#include "parser/basic_parser.hpp"

namespace fenrix::parser {

// One character of a label: an ASCII letter or digit, a hyphen, or with
// `allow_idn` any character the locale classifies as alphanumeric.
template <class C>
class basic_dns_domain_char : public basic_parser<C> {
public:
    bool is_alnum = false;  // the last matched character was a letter or digit
    bool allow_idn;

    explicit basic_dns_domain_char(bool allow_idn, const std::locale& locale = std::locale());
    bool match(const C* text, std::size_t start, std::size_t end, int flags) override;
};

// Labels start with a letter or digit and may contain hyphens; the match never
// ends in a hyphen, a dot counts only right after a letter or digit, and at
// most 127 labels are taken. With `allow_absolute` a trailing dot belongs to
// the match.
template <class C>
class basic_dns_name : public basic_parser<C> {
public:
    static constexpr std::size_t max_labels = 127;

    bool allow_absolute;
    std::shared_ptr<basic_dns_domain_char<C>> domain_char;
    std::shared_ptr<basic_parser<C>> separator;

    basic_dns_name(bool allow_absolute, std::shared_ptr<basic_dns_domain_char<C>> domain_char,
                   std::shared_ptr<basic_parser<C>> separator, const std::locale& locale = std::locale());
    bool match(const C* text, std::size_t start, std::size_t end, int flags) override;
};

extern template class basic_dns_domain_char<char>;
extern template class basic_dns_name<char>;

}  // namespace fenrix::parser
