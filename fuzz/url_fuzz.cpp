// Any bytes as a URL. The parsing constructor either throws one of its
// documented exceptions or gives a record whose texts come from the input;
// the grammar, bounded by a length instead of a NUL, never reads past the
// limit and reaches the same result as on a NUL-terminated copy, its parts
// never reaching beyond the first NUL.
#include <array>
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <stdexcept>
#include <string>
#include <string_view>

#include "parser/url.hpp"
#include "parser/url_grammar.hpp"

namespace {

using fenrix::parser::interval;
using fenrix::parser::url_grammar;

void require(bool condition)
{
    if (!condition)
        std::abort();
}

// Every recorded part: the parts the record is copied from and the token
// results inside them.
std::array<const interval*, 15> parts(const url_grammar& g)
{
    return {&g.url.interval,
            &g.http_scheme.interval,
            &g.ftp_scheme.interval,
            &g.mailto_scheme.interval,
            &g.file_scheme.interval,
            &g.username.interval,
            &g.password.interval,
            &g.ipv4.interval,
            &g.ipv6.interval,
            &g.dns.interval,
            &g.port.interval,
            &g.path.interval,
            &g.path.path,
            &g.path.query,
            &g.path.fragment};
}

void check_record(const std::string& text)
{
    try {
        const hopline::url u(text.c_str());
        if (text.empty() || text.front() == '\0') {
            require(u.scheme == 0 && u.host.empty());
            return;
        }
        require(u.scheme >= 1 && u.scheme <= 4);
        require(!u.host.empty());
        for (std::string_view part : {std::string_view(u.host), std::string_view(u.user),
                                      std::string_view(u.password.data(), u.password.size()), std::string_view(u.path)})
            require(text.find(part) != std::string::npos);
    } catch (const std::invalid_argument& e) {
        require(std::strcmp(e.what(), "Unrecognized scheme") == 0);
    } catch (const std::runtime_error& e) {
        require(std::strcmp(e.what(), "Failed to parse URL") == 0);
    }
}

// Matches the first `limit` bytes once bounded by the limit (in a buffer of
// exactly that size, so that a read past the limit is an overflow) and once
// as a NUL-terminated copy; both must agree and stay before the first NUL.
void check_grammar(const std::uint8_t* data, std::size_t limit, int flags)
{
    auto bounded = std::make_unique<char[]>(limit ? limit : 1);
    std::memcpy(bounded.get(), data, limit);
    const std::string terminated(reinterpret_cast<const char*>(data), limit);

    url_grammar by_length;
    url_grammar by_nul;
    const bool matched = by_length.url.match(bounded.get(), 0, limit, flags);
    const bool matched_nul = by_nul.url.match(terminated.c_str(), 0, SIZE_MAX, flags);
    const std::size_t input_end = std::strlen(terminated.c_str());
    for (const auto* part : parts(by_length))
        require(!part->valid() || part->end <= input_end);
    require(matched == matched_nul);
    const auto a = parts(by_length);
    const auto b = parts(by_nul);
    for (auto i = a.begin(), j = b.begin(); i != a.end(); ++i, ++j)
        require(**i == **j || (!(*i)->valid() && !(*j)->valid()));
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    const std::string text(reinterpret_cast<const char*>(data), size);
    check_record(text);
    // The whole input as the parsing constructor reads it, and its first half,
    // where the limit cuts the text (case-sensitive for odd lengths).
    check_grammar(data, size, fenrix::parser::match_case_insensitive);
    check_grammar(data, size / 2, size % 2 ? 0 : fenrix::parser::match_case_insensitive);
    return 0;
}
