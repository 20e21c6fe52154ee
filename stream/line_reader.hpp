// Line reading shared by the package descriptor and Minisign signature files.
// A line ends at a line feed; a carriage return directly before it is dropped,
// one anywhere else stays. The stream is read one byte at a time so that
// nothing past the line feed is consumed.
#pragma once

#include <string>

#include "stream/basic.hpp"

namespace fenrix {

// Reads one line into `line` (without its terminator). The caller checks
// `input.state` afterwards: once it is no longer ok, the line was not ended
// by a line feed and must not be used.
inline void read_line(stream::basic& input, std::string& line)
{
    line.clear();
    char byte;
    while (input.read(&byte, 1) == 1 && input.state == stream::ok) {
        if (byte == '\n') {
            if (!line.empty() && line.back() == '\r')
                line.pop_back();
            return;
        }
        line.push_back(byte);
    }
    // A short read that still reported ok would end the loop too; make sure
    // the caller sees an unusable line.
    if (input.state == stream::ok)
        input.state = stream::eof;
}

}  // namespace fenrix
