// Repetition of one element parser.
#pragma once

#include "parser/basic_parser.hpp"

namespace fenrix::parser {

// Matches `element` between `min_iterations` and `max_iterations` times in a
// row (SIZE_MAX for unbounded). Greedy repetition takes as many as it can; a
// non-greedy one stops once `min_iterations` matched. A repetition that
// consumes nothing ends the loop with success, so an element that can match
// the empty text cannot make it spin.
template <class C>
class basic_iterations : public basic_parser<C> {
public:
    std::shared_ptr<basic_parser<C>> element;
    std::size_t min_iterations;
    std::size_t max_iterations;
    bool greedy;

    explicit basic_iterations(std::shared_ptr<basic_parser<C>> element, std::size_t min_iterations = 0,
                              std::size_t max_iterations = SIZE_MAX, bool greedy = true);
    bool match(const C* text, std::size_t start, std::size_t end, int flags) override;
};

extern template class basic_iterations<char>;

}  // namespace fenrix::parser
