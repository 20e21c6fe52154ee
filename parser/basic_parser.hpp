// Root of the composable text parsers. A parser is asked to match a stretch of
// text from a position; on success it records where its match lies, and a
// composite parser leaves its parts' results in the part objects themselves.
// A grammar is a graph of parser objects: one match call on the root, then the
// caller reads the recorded intervals of the parts it cares about.
//
// Input ends at the position `end` or at a NUL character, whichever comes
// first: no parser reads text[pos] for pos >= end or consumes a NUL. Callers
// that parse a NUL-terminated string pass end = SIZE_MAX.
#pragma once

#include <cstddef>
#include <cstdint>
#include <locale>
#include <memory>

#include "parser/no_delete.hpp"

namespace fenrix::parser {

// Positions [start, end) of a match; any interval with start > end is "no
// match", and {1, 0} is the canonical one.
struct interval {
    std::size_t start = 1;
    std::size_t end = 0;

    constexpr bool valid() const noexcept { return start <= end; }
    constexpr std::size_t size() const noexcept { return valid() ? end - start : 0; }
    constexpr void invalidate() noexcept
    {
        start = 1;
        end = 0;
    }
    friend constexpr bool operator==(const interval&, const interval&) = default;
};

// Shown by test frameworks and diagnostics as [start, end).
template <class Stream>
Stream& operator<<(Stream& os, const interval& i)
{
    return os << '[' << i.start << ", " << i.end << ')';
}

// Match flags. Bits other than these are passed on to parts unchanged.
inline constexpr int match_case_insensitive = 1;

template <class C>
class basic_parser {
public:
    using char_type = C;
    using pointer = std::shared_ptr<basic_parser<C>>;

    parser::interval interval;
    std::locale locale;

    explicit basic_parser(const std::locale& locale = std::locale()) : locale(locale) {}
    basic_parser(const basic_parser&) = default;
    basic_parser& operator=(const basic_parser&) = default;
    virtual ~basic_parser() = default;

    // Resets the recorded results to no match.
    virtual void invalidate() { interval.invalidate(); }

    // True when the parser matched at `start`; a failed match leaves the parser
    // and its recorded parts at no match.
    virtual bool match(const C* text, std::size_t start, std::size_t end, int flags) = 0;

protected:
    // True at the end of input: the position limit or a NUL character.
    static bool at_end(const C* text, std::size_t pos, std::size_t end) noexcept
    {
        return pos >= end || text[pos] == C();
    }

    // Character equality, folded through the locale when the flags ask for it.
    bool same(C a, C b, int flags) const
    {
        if (a == b)
            return true;
        if (!(flags & match_case_insensitive))
            return false;
        const auto& ctype = std::use_facet<std::ctype<C>>(locale);
        return ctype.tolower(a) == ctype.tolower(b);
    }

    // True when the locale classifies the character as a letter or digit.
    bool locale_alnum(C c) const { return std::use_facet<std::ctype<C>>(locale).is(std::ctype_base::alnum, c); }
};

// Shares an object owned elsewhere (typically an automatic object of the
// function that builds a grammar) without ever freeing it.
template <class T>
std::shared_ptr<T> share(T& object)
{
    return std::shared_ptr<T>(&object, no_delete<T>());
}

}  // namespace fenrix::parser
