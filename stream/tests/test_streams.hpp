// Small streams for tests: a source that hands out a fixed text in pieces of
// at most `step` bytes.
#pragma once

#include <algorithm>
#include <cstring>
#include <string>

#include "stream/basic.hpp"

namespace fenrix::stream::testing {

class text_source : public basic {
public:
    explicit text_source(std::string text, std::size_t step = SIZE_MAX) : text(std::move(text)), step(step) {}
    std::size_t read(void* data, std::size_t length) override
    {
        const std::size_t n = std::min({length, step, text.size() - pos});
        if (n == 0 && length > 0) {
            state = eof;
            return 0;
        }
        std::memcpy(data, text.data() + pos, n);
        pos += n;
        state = ok;
        return n;
    }
    std::string text;
    std::size_t step;
    std::size_t pos = 0;
};

}  // namespace fenrix::stream::testing
