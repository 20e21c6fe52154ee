// The characters allowed in the user name, password and path of a URL: the
// locale's letters and digits plus a fixed list each. Percent escapes are
// neither decoded nor validated; '%' is an ordinary character.
#pragma once

#include "parser/basic_parser.hpp"

namespace fenrix::parser {

// One character that is alphanumeric or in `Extra`.
template <class C, const char* Extra>
class basic_url_char : public basic_parser<C> {
public:
    explicit basic_url_char(const std::locale& locale = std::locale()) : basic_parser<C>(locale) {}
    bool match(const C* text, std::size_t start, std::size_t end, int flags) override;
};

inline constexpr char url_username_extra[] = "-._~%!$&'*+,;=";
inline constexpr char url_password_extra[] = "-._~%!$&'()*+,;=:";
inline constexpr char url_path_extra[] = "/-._~%!$&'()*+,;=:@?#";

// No parentheses and no colon: the colon ends the user name.
template <class C>
class basic_url_username_char : public basic_url_char<C, url_username_extra> {
    using basic_url_char<C, url_username_extra>::basic_url_char;
};

template <class C>
class basic_url_password_char : public basic_url_char<C, url_password_extra> {
    using basic_url_char<C, url_password_extra>::basic_url_char;
};

template <class C>
class basic_url_path_char : public basic_url_char<C, url_path_extra> {
    using basic_url_char<C, url_path_extra>::basic_url_char;
};

extern template class basic_url_char<char, url_username_extra>;
extern template class basic_url_char<char, url_password_extra>;
extern template class basic_url_char<char, url_path_extra>;

}  // namespace fenrix::parser
