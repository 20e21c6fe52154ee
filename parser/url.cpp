#include "parser/url.hpp"

#include <stdexcept>

#include "parser/url_grammar.hpp"

namespace hopline {

namespace {

struct scheme_entry {
    std::int32_t code;
    std::uint16_t default_port;
};

// Indexed by the member of "https", "http", "wss", "ws" that matched.
constexpr scheme_entry schemes[] = {{2, 443}, {1, 80}, {4, 443}, {3, 80}};

constexpr std::size_t max_port = 65535;

}  // namespace

template <>
basic_url<char>::basic_url(const char* text)
{
    if (!text || !*text)
        return;
    fenrix::parser::url_grammar grammar;
    if (!grammar.url.match(text, 0, SIZE_MAX, fenrix::parser::match_case_insensitive))
        throw std::runtime_error("Failed to parse URL");
    if (!grammar.http_scheme.interval.valid())
        throw std::invalid_argument("Unrecognized scheme");
    const std::size_t index = grammar.http_scheme.hit_offset;
    if (index >= std::size(schemes))
        throw std::invalid_argument("Unsupported scheme");

    auto copy = [text](const fenrix::parser::interval& part) { return std::string(text + part.start, part.size()); };
    scheme = schemes[index].code;
    // A port beyond the TCP range is ignored in favour of the default.
    const bool explicit_port = grammar.port.interval.valid() && grammar.port.value <= max_port;
    port = explicit_port ? static_cast<std::uint16_t>(grammar.port.value) : schemes[index].default_port;
    for (const auto* found : {&grammar.ipv4.interval, &grammar.ipv6.interval, &grammar.dns.interval}) {
        if (found->valid()) {
            host = copy(*found);
            break;
        }
    }
    if (grammar.username.interval.valid())
        user = copy(grammar.username.interval);
    if (grammar.password.interval.valid()) {
        const auto& secret = grammar.password.interval;
        assign_password(text + secret.start, secret.size());
    }
    if (grammar.path.interval.valid())
        path = copy(grammar.path.interval);
}

}  // namespace hopline
