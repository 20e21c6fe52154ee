#include "parser/url_chars.hpp"

namespace fenrix::parser {

template <class C, const char* Extra>
bool basic_url_char<C, Extra>::match(const C* text, std::size_t start, std::size_t end, int)
{
    if (!this->at_end(text, start, end)) {
        const C c = text[start];
        bool listed = false;
        for (const char* extra = Extra; *extra && !listed; ++extra)
            listed = c == C(*extra);
        if (listed || this->locale_alnum(c)) {
            this->interval = {start, start + 1};
            return true;
        }
    }
    this->invalidate();
    return false;
}

template class basic_url_char<char, url_username_extra>;
template class basic_url_char<char, url_password_extra>;
template class basic_url_char<char, url_path_extra>;

}  // namespace fenrix::parser
