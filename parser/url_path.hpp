// The part of a URL after the authority: path, query and fragment.
#pragma once

#include "parser/basic_parser.hpp"

namespace fenrix::parser {

// A run of path characters in which the first query mark starts the query and
// the first fragment mark (in path or query) starts the fragment. The path
// need not begin with a slash, and is present but empty when the text starts
// with a query or fragment mark. The own interval covers all three parts.
template <class C>
class basic_url_path : public basic_parser<C> {
public:
    using part = std::shared_ptr<basic_parser<C>>;

    parser::interval path;
    parser::interval query;
    parser::interval fragment;
    part path_char;
    part query_start;
    part fragment_start;

    basic_url_path(part path_char, part query_start, part fragment_start, const std::locale& locale = std::locale());
    void invalidate() override;
    bool match(const C* text, std::size_t start, std::size_t end, int flags) override;

private:
    // Consumes path characters from `pos` up to the first character that
    // `stop` matches (when given) or that is no path character. Returns the
    // position after the run; `stopped` tells whether `stop` ended it.
    std::size_t consume(const C* text, std::size_t pos, std::size_t end, int flags, basic_parser<C>* stop,
                        bool& stopped);
    // The fragment after the mark at `pos`; returns the end of the match.
    std::size_t match_fragment(const C* text, std::size_t end, int flags);
};

extern template class basic_url_path<char>;

}  // namespace fenrix::parser
