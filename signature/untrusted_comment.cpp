#include "signature/untrusted_comment.hpp"

#include <cstring>

namespace fenrix::minisign {

namespace {
constexpr char prefix[] = "untrusted comment:";
constexpr std::size_t prefix_size = sizeof prefix - 1;
}  // namespace

bool untrusted_comment::match(const char* text, std::size_t start, std::size_t end, int /*flags*/)
{
    // strncmp stops at a NUL in the text, which never equals a prefix byte.
    if (start <= end && end - start >= prefix_size && std::strncmp(text + start, prefix, prefix_size) == 0) {
        interval = {start, start + prefix_size};
        return true;
    }
    interval.invalidate();
    return false;
}

}  // namespace fenrix::minisign
