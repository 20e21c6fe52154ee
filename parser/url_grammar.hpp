// The URL grammar: the parser that recognises scheme, user information, host,
// port and path, and the set of token parsers it is assembled from.
#pragma once

#include "parser/character.hpp"
#include "parser/collection.hpp"
#include "parser/dns_name.hpp"
#include "parser/integer.hpp"
#include "parser/ipv4_address.hpp"
#include "parser/ipv6_address.hpp"
#include "parser/iterations.hpp"
#include "parser/url_chars.hpp"
#include "parser/url_path.hpp"

namespace fenrix::parser {

// After a successful match each of the first eleven parts is either present
// (valid interval) or at no match, and tells which parts the URL had. The
// match succeeds on a prefix: characters after the last part that matched are
// ignored. An IPv4 host stands bare after a scheme with an authority but must
// be bracketed after mailto.
template <class C>
class basic_url : public basic_parser<C> {
public:
    using part = std::shared_ptr<basic_parser<C>>;

    part http_scheme;
    part ftp_scheme;
    part mailto_scheme;
    part file_scheme;
    part username;
    part password;
    part ipv4_host;
    part ipv6_host;
    part dns_host;
    part port;
    part path;
    part colon;
    part slash;
    part at;
    part ip_lbracket;
    part ip_rbracket;

    basic_url(part http_scheme, part ftp_scheme, part mailto_scheme, part file_scheme, part colon, part slash,
              part username, part password, part at, part ip_lbracket, part ip_rbracket, part ipv4_host, part ipv6_host,
              part dns_host, part port, part path, const std::locale& locale = std::locale());

    // Invalidates the eleven result parts; the punctuation is left alone.
    void invalidate() override;
    bool match(const C* text, std::size_t start, std::size_t end, int flags) override;

private:
    // Each returns the position after what it matched, or npos.
    static constexpr std::size_t npos = SIZE_MAX;
    std::size_t match_sequence(std::initializer_list<basic_parser<C>*> parts, const C* text, std::size_t pos,
                               std::size_t end, int flags);
    std::size_t match_scheme(const C* text, std::size_t pos, std::size_t end, int flags);
    std::size_t match_user_info(const C* text, std::size_t pos, std::size_t end, int flags);
    std::size_t match_host(const C* text, std::size_t pos, std::size_t end, int flags);
    std::size_t match_mailto_host(const C* text, std::size_t pos, std::size_t end, int flags);
    std::size_t match_dns_host(const C* text, std::size_t pos, std::size_t end, int flags);
    std::size_t take_host(basic_parser<C>* kept, std::size_t after);
    std::size_t match_port_and_path(const C* text, std::size_t pos, std::size_t end, int flags);
    std::size_t match_path(const C* text, std::size_t pos, std::size_t end, int flags);
    void keep_only(basic_parser<C>* kept, std::initializer_list<basic_parser<C>*> group);
};

extern template class basic_url<char>;

// The grammar objects of one URL parse, in the order they are built; each
// refers to those before it, so they are destroyed parents first. One object
// per parse: parsers hold their results.
struct url_grammar {
    using cu = basic_cu<char>;
    using cu_set = basic_cu_set<char>;

    cu lbracket{'['}, rbracket{']'}, ip_colon{':'}, dot{'.'}, percent{'%'};
    cu d0{'0'}, d1{'1'}, d2{'2'}, d3{'3'}, d4{'4'}, d5{'5'}, d6{'6'}, d7{'7'}, d8{'8'}, d9{'9'};
    // Hexadecimal digit values 10 to 15.
    cu_set xa{"Aa"}, xb{"Bb"}, xc{"Cc"}, xd{"Dd"}, xe{"Ee"}, xf{"Ff"};
    basic_integer10<char> scope_id{share(d0), share(d1), share(d2), share(d3), share(d4),
                                   share(d5), share(d6), share(d7), share(d8), share(d9)};
    basic_ipv4_address<char> ipv4{share(d0), share(d1), share(d2), share(d3), share(d4), share(d5),
                                  share(d6), share(d7), share(d8), share(d9), share(dot)};
    basic_ipv6_address<char> ipv6{share(d0), share(d1),       share(d2),      share(d3),      share(d4),
                                  share(d5), share(d6),       share(d7),      share(d8),      share(d9),
                                  share(xa), share(xb),       share(xc),      share(xd),      share(xe),
                                  share(xf), share(ip_colon), share(percent), share(scope_id)};
    basic_dns_domain_char<char> domain_char{true};
    basic_dns_name<char> dns{true, share(domain_char), share(dot)};
    basic_integer10<char> port{share(d0), share(d1), share(d2), share(d3), share(d4),
                               share(d5), share(d6), share(d7), share(d8), share(d9)};
    // "https" before "http": the first member that matches wins.
    basic_string_branch<char> http_scheme{"https\0http\0wss\0ws\0"};
    basic_string_branch<char> ftp_scheme{"ftp\0"};
    basic_string_branch<char> mailto_scheme{"mailto\0"};
    basic_string_branch<char> file_scheme{"file\0"};
    cu colon{':'}, slash{'/'};
    basic_url_username_char<char> username_char;
    basic_iterations<char> username{share(username_char), 1, SIZE_MAX, true};
    basic_url_password_char<char> password_char;
    basic_iterations<char> password{share(password_char), 1, SIZE_MAX, true};
    cu query_start{'?'}, fragment_start{'#'};
    basic_url_path_char<char> path_char;
    basic_url_path<char> path{share(path_char), share(query_start), share(fragment_start)};
    cu at{'@'};
    basic_url<char> url{share(http_scheme), share(ftp_scheme), share(mailto_scheme), share(file_scheme),
                        share(colon),       share(slash),      share(username),      share(password),
                        share(at),          share(lbracket),   share(rbracket),      share(ipv4),
                        share(ipv6),        share(dns),        share(port),          share(path)};

    url_grammar() = default;
    url_grammar(const url_grammar&) = delete;
    url_grammar& operator=(const url_grammar&) = delete;
};

}  // namespace fenrix::parser
