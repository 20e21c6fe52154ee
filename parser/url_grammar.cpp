#include "parser/url_grammar.hpp"

#include <utility>

namespace fenrix::parser {

template <class C>
basic_url<C>::basic_url(part http_scheme, part ftp_scheme, part mailto_scheme, part file_scheme, part colon, part slash,
                        part username, part password, part at, part ip_lbracket, part ip_rbracket, part ipv4_host,
                        part ipv6_host, part dns_host, part port, part path, const std::locale& locale)
    : basic_parser<C>(locale), http_scheme(std::move(http_scheme)), ftp_scheme(std::move(ftp_scheme)),
      mailto_scheme(std::move(mailto_scheme)), file_scheme(std::move(file_scheme)), username(std::move(username)),
      password(std::move(password)), ipv4_host(std::move(ipv4_host)), ipv6_host(std::move(ipv6_host)),
      dns_host(std::move(dns_host)), port(std::move(port)), path(std::move(path)), colon(std::move(colon)),
      slash(std::move(slash)), at(std::move(at)), ip_lbracket(std::move(ip_lbracket)),
      ip_rbracket(std::move(ip_rbracket))
{
}

template <class C>
void basic_url<C>::invalidate()
{
    for (auto* p : {&http_scheme, &ftp_scheme, &mailto_scheme, &file_scheme, &username, &password, &ipv4_host,
                    &ipv6_host, &dns_host, &port, &path})
        (*p)->invalidate();
    basic_parser<C>::invalidate();
}

// Matches the parts one after the other, each right after the previous one.
template <class C>
std::size_t basic_url<C>::match_sequence(std::initializer_list<basic_parser<C>*> parts, const C* text, std::size_t pos,
                                         std::size_t end, int flags)
{
    for (auto* p : parts) {
        if (!p->match(text, pos, end, flags))
            return npos;
        pos = p->interval.end;
    }
    return pos;
}

// Invalidates every parser of `group` but `kept` (which may be null).
template <class C>
void basic_url<C>::keep_only(basic_parser<C>* kept, std::initializer_list<basic_parser<C>*> group)
{
    for (auto* p : group)
        if (p != kept)
            p->invalidate();
}

// The position after "scheme:" or "scheme://", or npos with every scheme
// parser invalidated when the text starts with none of them.
template <class C>
std::size_t basic_url<C>::match_scheme(const C* text, std::size_t pos, std::size_t end, int flags)
{
    auto* const c = colon.get();
    auto* const s = slash.get();
    const struct {
        basic_parser<C>* scheme;
        bool authority;  // followed by "//"
    } schemes[] = {
        {http_scheme.get(), true}, {ftp_scheme.get(), true}, {mailto_scheme.get(), false}, {file_scheme.get(), true}};
    const auto group = {http_scheme.get(), ftp_scheme.get(), mailto_scheme.get(), file_scheme.get()};
    for (const auto& candidate : schemes) {
        const std::size_t after = candidate.authority
            ? match_sequence({candidate.scheme, c, s, s}, text, pos, end, flags)
            : match_sequence({candidate.scheme, c}, text, pos, end, flags);
        if (after != npos) {
            keep_only(candidate.scheme, group);
            return after;
        }
    }
    keep_only(nullptr, group);
    return npos;
}

// "user@" or "user:password@"; leaves `pos` unchanged when neither is there.
template <class C>
std::size_t basic_url<C>::match_user_info(const C* text, std::size_t pos, std::size_t end, int flags)
{
    if (username->match(text, pos, end, flags)) {
        const std::size_t after_user = username->interval.end;
        std::size_t after = match_sequence({colon.get(), password.get(), at.get()}, text, after_user, end, flags);
        if (after != npos)
            return after;
        password->invalidate();
        if (at->match(text, after_user, end, flags))
            return at->interval.end;
    }
    username->invalidate();
    password->invalidate();
    return pos;
}

// Leaves `kept` as the one host parser with a match; returns `after`.
template <class C>
std::size_t basic_url<C>::take_host(basic_parser<C>* kept, std::size_t after)
{
    keep_only(kept, {ipv4_host.get(), ipv6_host.get(), dns_host.get()});
    return after;
}

// The host-name alternative that both host rules end with.
template <class C>
std::size_t basic_url<C>::match_dns_host(const C* text, std::size_t pos, std::size_t end, int flags)
{
    if (dns_host->match(text, pos, end, flags))
        return take_host(dns_host.get(), dns_host->interval.end);
    return npos;
}

// A bare IPv4 address, a bracketed IPv6 address or a host name.
template <class C>
std::size_t basic_url<C>::match_host(const C* text, std::size_t pos, std::size_t end, int flags)
{
    if (ipv4_host->match(text, pos, end, flags)) {
        const std::size_t after = ipv4_host->interval.end;
        // A host name that merely starts like an address (10.0.0.1.example,
        // 1.2.3.256) is a host name, not the address of its prefix.
        if (!dns_host->match(text, pos, end, flags) || dns_host->interval.end <= after)
            return take_host(ipv4_host.get(), after);
        return take_host(dns_host.get(), dns_host->interval.end);
    }
    const std::size_t after =
        match_sequence({ip_lbracket.get(), ipv6_host.get(), ip_rbracket.get()}, text, pos, end, flags);
    if (after != npos)
        return take_host(ipv6_host.get(), after);
    return match_dns_host(text, pos, end, flags);
}

// After mailto an address host is always bracketed.
template <class C>
std::size_t basic_url<C>::match_mailto_host(const C* text, std::size_t pos, std::size_t end, int flags)
{
    for (auto* address : {ipv4_host.get(), ipv6_host.get()}) {
        const std::size_t after =
            match_sequence({ip_lbracket.get(), address, ip_rbracket.get()}, text, pos, end, flags);
        if (after != npos)
            return take_host(address, after);
    }
    return match_dns_host(text, pos, end, flags);
}

template <class C>
std::size_t basic_url<C>::match_path(const C* text, std::size_t pos, std::size_t end, int flags)
{
    return path->match(text, pos, end, flags) ? path->interval.end : pos;
}

template <class C>
std::size_t basic_url<C>::match_port_and_path(const C* text, std::size_t pos, std::size_t end, int flags)
{
    const std::size_t after_port = match_sequence({colon.get(), port.get()}, text, pos, end, flags);
    if (after_port != npos)
        pos = after_port;
    else
        port->invalidate();
    return match_path(text, pos, end, flags);
}

template <class C>
bool basic_url<C>::match(const C* text, std::size_t start, std::size_t end, int flags)
{
    std::size_t pos = match_scheme(text, start, end, flags);
    if (pos == npos)
        pos = start;

    std::size_t after = npos;
    if (mailto_scheme->interval.valid()) {
        if (const std::size_t host = match_sequence({username.get(), at.get()}, text, pos, end, flags); host != npos)
            after = match_mailto_host(text, host, end, flags);
        if (after != npos) {
            password->invalidate();
            port->invalidate();
            path->invalidate();
        }
    } else if (file_scheme->interval.valid()) {
        after = match_path(text, pos, end, flags);
        for (auto* p : {username.get(), password.get(), ipv4_host.get(), ipv6_host.get(), dns_host.get(), port.get()})
            p->invalidate();
    } else {
        // ftp and http have user information; without a scheme there is none.
        if (ftp_scheme->interval.valid() || http_scheme->interval.valid()) {
            pos = match_user_info(text, pos, end, flags);
        } else {
            username->invalidate();
            password->invalidate();
        }
        const std::size_t after_host = match_host(text, pos, end, flags);
        if (after_host != npos)
            after = match_port_and_path(text, after_host, end, flags);
    }
    if (after == npos) {
        invalidate();
        return false;
    }
    this->interval = {start, after};
    return true;
}

template class basic_url<char>;

}  // namespace fenrix::parser
