#include "parser/iterations.hpp"

#include <utility>

namespace fenrix::parser {

template <class C>
basic_iterations<C>::basic_iterations(std::shared_ptr<basic_parser<C>> element, std::size_t min_iterations,
                                      std::size_t max_iterations, bool greedy)
    : element(std::move(element)), min_iterations(min_iterations), max_iterations(max_iterations), greedy(greedy)
{
}

template <class C>
bool basic_iterations<C>::match(const C* text, std::size_t start, std::size_t end, int flags)
{
    this->interval.start = start;
    std::size_t pos = start;
    for (std::size_t i = 0;; ++i) {
        this->interval.end = pos;
        if ((!greedy && i >= min_iterations) || i >= max_iterations)
            return true;
        if (!element->match(text, pos, end, flags)) {
            if (i >= min_iterations)
                return true;
            this->invalidate();
            return false;
        }
        // Only forward progress continues the loop.
        if (element->interval.end <= pos)
            return true;
        pos = element->interval.end;
    }
}

template class basic_iterations<char>;

}  // namespace fenrix::parser
