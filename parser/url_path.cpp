#include "parser/url_path.hpp"

#include <utility>

namespace fenrix::parser {

template <class C>
basic_url_path<C>::basic_url_path(part path_char, part query_start, part fragment_start, const std::locale& locale)
    : basic_parser<C>(locale), path_char(std::move(path_char)), query_start(std::move(query_start)),
      fragment_start(std::move(fragment_start))
{
}

template <class C>
void basic_url_path<C>::invalidate()
{
    path.invalidate();
    query.invalidate();
    fragment.invalidate();
    basic_parser<C>::invalidate();
}

template <class C>
std::size_t basic_url_path<C>::consume(const C* text, std::size_t pos, std::size_t end, int flags,
                                       basic_parser<C>* stop, bool& stopped)
{
    stopped = false;
    while (pos < end && text[pos] != C()) {
        if (stop && stop->match(text, pos, end, flags)) {
            stopped = true;
            break;
        }
        if (!path_char->match(text, pos, end, flags) || path_char->interval.end <= pos)
            break;
        pos = path_char->interval.end;
    }
    return pos;
}

template <class C>
std::size_t basic_url_path<C>::match_fragment(const C* text, std::size_t end, int flags)
{
    bool unused;
    fragment.start = fragment_start->interval.end;
    fragment.end = consume(text, fragment.start, end, flags, nullptr, unused);
    return fragment.end;
}

template <class C>
bool basic_url_path<C>::match(const C* text, std::size_t start, std::size_t end, int flags)
{
    query.invalidate();
    fragment.invalidate();
    path.start = start;
    // The path runs up to the first query or fragment mark.
    std::size_t pos = start;
    bool at_query = false;
    bool at_fragment = false;
    while (pos < end && text[pos] != C()) {
        if ((at_query = query_start->match(text, pos, end, flags)))
            break;
        if ((at_fragment = fragment_start->match(text, pos, end, flags)))
            break;
        if (!path_char->match(text, pos, end, flags) || path_char->interval.end <= pos)
            break;
        pos = path_char->interval.end;
    }
    path.end = pos;
    if (at_query) {
        // In the query only a fragment mark is special.
        query.start = query_start->interval.end;
        pos = query.end = consume(text, query.start, end, flags, fragment_start.get(), at_fragment);
    } else if (!at_fragment && pos == start) {
        invalidate();
        return false;
    }
    if (at_fragment)
        pos = match_fragment(text, end, flags);
    this->interval = {start, pos};
    return true;
}

template class basic_url_path<char>;

}  // namespace fenrix::parser
