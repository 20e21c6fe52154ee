#include "parser/collection.hpp"

namespace fenrix::parser {

template <class C>
void parser_collection<C>::invalidate()
{
    for (auto& part : parsers)
        if (part)
            part->invalidate();
    basic_parser<C>::invalidate();
}

template <class C>
void basic_branch<C>::invalidate()
{
    hit_offset = SIZE_MAX;
    parser_collection<C>::invalidate();
}

template <class C>
bool basic_branch<C>::match(const C* text, std::size_t start, std::size_t end, int flags)
{
    auto& parts = this->parsers;
    hit_offset = 0;
    for (std::size_t i = 0; i < parts.size(); ++i, ++hit_offset) {
        if (parts[i] && parts[i]->match(text, start, end, flags)) {
            this->interval = parts[i]->interval;
            for (std::size_t later = i + 1; later < parts.size(); ++later)
                if (parts[later])
                    parts[later]->invalidate();
            return true;
        }
    }
    hit_offset = SIZE_MAX;
    basic_parser<C>::invalidate();
    return false;
}

template class parser_collection<char>;
template class basic_branch<char>;
template class basic_string_branch<char, basic_string<char>>;

}  // namespace fenrix::parser
