#include "update/descriptor.hpp"

#include <limits>

#include "stream/line_reader.hpp"

namespace fenrix {

namespace {

bool is_line_space(char c)
{
    return c == ' ' || (c >= '\t' && c <= '\r');
}

constexpr std::string_view byte_order_mark = "\xEF\xBB\xBF";

}  // namespace

int hex_digit_value(char c)
{
    if (c >= '0' && c <= '9')
        return c - '0';
    if (c >= 'a' && c <= 'f')
        return c - 'a' + 10;
    if (c >= 'A' && c <= 'F')
        return c - 'A' + 10;
    return -1;
}

std::string_view trim_line(std::string_view line)
{
    while (!line.empty() && is_line_space(line.front()))
        line.remove_prefix(1);
    while (!line.empty() && is_line_space(line.back()))
        line.remove_suffix(1);
    return line;
}

std::uint32_t parse_descriptor_number(std::string_view line)
{
    bool negative = false;
    if (!line.empty() && (line.front() == '+' || line.front() == '-')) {
        negative = line.front() == '-';
        line.remove_prefix(1);
    }
    // "0x" is a prefix only when something follows it; a bare "0x" is the
    // digit 0 followed by an ignored 'x'.
    if (line.size() > 2 && line[0] == '0' && (line[1] == 'x' || line[1] == 'X'))
        line.remove_prefix(2);

    constexpr std::uint64_t limit = std::numeric_limits<std::uint32_t>::max();
    std::uint64_t magnitude = 0;
    bool overflow = false;
    bool any_digit = false;
    for (char c : line) {
        const int digit = hex_digit_value(c);
        if (digit < 0)
            break;
        any_digit = true;
        magnitude = magnitude * 16 + std::uint64_t(digit);
        if (magnitude > limit) {
            overflow = true;
            magnitude = limit;  // keeps the accumulator from wrapping
        }
    }
    if (!any_digit)
        return 0;
    if (negative)
        return overflow ? 0 : ~std::uint32_t(magnitude);
    return overflow ? std::uint32_t(limit) : std::uint32_t(magnitude);
}

void read_descriptor(stream::basic& input, package_descriptor& descriptor)
{
    std::string line;
    for (unsigned index = 0;; ++index) {
        read_line(input, line);
        if (input.state != stream::ok)
            return;
        std::string_view trimmed = trim_line(line);
        switch (index) {
        case 0:
            if (trimmed.starts_with(byte_order_mark))
                trimmed.remove_prefix(byte_order_mark.size());
            descriptor.number = parse_descriptor_number(trimmed);
            break;
        case 1:
            descriptor.text.assign(trimmed);
            break;
        default:
            // Lines after the third carry nothing the client uses.
            descriptor.update_url.assign(trimmed);
            return;
        }
    }
}

}  // namespace fenrix
