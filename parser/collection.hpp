// Parsers made of an ordered list of parts, and the ordered choice.
#pragma once

#include <vector>

#include "parser/basic_parser.hpp"
#include "parser/string.hpp"

namespace fenrix::parser {

template <class C>
class parser_collection : public basic_parser<C> {
public:
    std::vector<std::shared_ptr<basic_parser<C>>> parsers;

    explicit parser_collection(const std::locale& locale = std::locale()) : basic_parser<C>(locale) {}
    void invalidate() override;
};

// Ordered choice: the first part that matches wins, not the longest, so a
// member that is a prefix of another must come after it.
template <class C>
class basic_branch : public parser_collection<C> {
public:
    // Index of the part that matched, SIZE_MAX when none did.
    std::size_t hit_offset = SIZE_MAX;

    explicit basic_branch(const std::locale& locale = std::locale()) : parser_collection<C>(locale) {}
    void invalidate() override;
    bool match(const C* text, std::size_t start, std::size_t end, int flags) override;
};

// A choice between fixed texts, each held by an owned string parser.
template <class C, class String = basic_string<C>>
class basic_string_branch : public basic_branch<C> {
public:
    // `list` is a sequence of NUL-terminated strings ending at an empty string
    // or after `count` characters in total ("https\0http\0").
    explicit basic_string_branch(const C* list, std::size_t count = SIZE_MAX,
                                 const std::locale& locale = std::locale());
};

template <class C, class String>
basic_string_branch<C, String>::basic_string_branch(const C* list, std::size_t count, const std::locale& locale)
    : basic_branch<C>(locale)
{
    // A string is a run of non-NUL characters that ends at a NUL or at the
    // character limit; an empty one ends the list.
    auto next = [&](std::size_t pos) {
        while (pos < count && list[pos] != C())
            ++pos;
        return pos;
    };
    std::size_t strings = 0;
    for (std::size_t pos = 0; pos < count && list[pos] != C(); pos = next(pos) + 1)
        ++strings;
    this->parsers.reserve(strings);
    for (std::size_t pos = 0; pos < count && list[pos] != C(); pos = next(pos) + 1)
        this->parsers.push_back(std::make_shared<String>(list + pos, count - pos, this->locale));
}

extern template class parser_collection<char>;
extern template class basic_branch<char>;
extern template class basic_string_branch<char, basic_string<char>>;

}  // namespace fenrix::parser
