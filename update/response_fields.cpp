#include "update/response_fields.hpp"

#include <limits>

namespace fenrix {

namespace {

bool is_space(char c)
{
    return c == ' ' || c == '\t';
}

std::string_view trimmed(std::string_view text)
{
    while (!text.empty() && (is_space(text.front()) || text.front() == '\r' || text.front() == '\n'))
        text.remove_prefix(1);
    while (!text.empty() && (is_space(text.back()) || text.back() == '\r' || text.back() == '\n'))
        text.remove_suffix(1);
    return text;
}

bool equal_nocase(std::string_view a, std::string_view b)
{
    if (a.size() != b.size())
        return false;
    for (std::size_t i = 0; i < a.size(); ++i) {
        const auto lower = [](char c) { return c >= 'A' && c <= 'Z' ? char(c - 'A' + 'a') : c; };
        if (lower(a[i]) != lower(b[i]))
            return false;
    }
    return true;
}

// Decimal digits only, no sign, no spaces; nothing when it overflows.
std::optional<std::uint64_t> parse_decimal(std::string_view text)
{
    if (text.empty())
        return std::nullopt;
    std::uint64_t value = 0;
    for (const char c : text) {
        if (c < '0' || c > '9')
            return std::nullopt;
        const unsigned digit = unsigned(c - '0');
        if (value > (std::numeric_limits<std::uint64_t>::max() - digit) / 10)
            return std::nullopt;
        value = value * 10 + digit;
    }
    return value;
}

// Visible ASCII and spaces: what can go back into a header line as it came.
bool sendable(std::string_view value)
{
    if (value.empty() || value.size() > max_validator_size)
        return false;
    for (const char c : value) {
        if (c != ' ' && (c < '!' || c > '~'))
            return false;
    }
    return true;
}

}  // namespace

std::optional<content_range> parse_content_range(std::string_view value)
{
    value = trimmed(value);
    constexpr std::string_view unit = "bytes ";
    if (value.size() < unit.size() || !equal_nocase(value.substr(0, unit.size()), unit))
        return std::nullopt;
    value.remove_prefix(unit.size());
    const std::size_t dash = value.find('-');
    const std::size_t slash = value.find('/');
    if (dash == std::string_view::npos || slash == std::string_view::npos || slash < dash)
        return std::nullopt;
    const auto first = parse_decimal(value.substr(0, dash));
    const auto last = parse_decimal(value.substr(dash + 1, slash - dash - 1));
    const auto total = parse_decimal(value.substr(slash + 1));
    if (!first || !last || !total || *first > *last || *last >= *total)
        return std::nullopt;
    return content_range{*first, *last, *total};
}

bool response_fields::add_line(std::string_view line)
{
    const std::string_view text = trimmed(line);
    if (!status_line_seen) {
        // "HTTP/1.1 206 Partial Content"
        status_line_seen = true;
        const std::size_t space = text.find(' ');
        if (space != std::string_view::npos) {
            const auto code = parse_decimal(text.substr(space + 1, 3));
            if (code && *code >= 100 && *code <= 999)
                status = std::uint16_t(*code);
        }
        return false;
    }
    if (text.empty())
        return true;
    const std::size_t colon = text.find(':');
    if (colon == std::string_view::npos)
        return false;
    const std::string_view name = trimmed(text.substr(0, colon));
    const std::string_view value = trimmed(text.substr(colon + 1));
    // The first of a repeated field counts: a second one cannot make a
    // range that was refused acceptable, nor swap the validator.
    if (equal_nocase(name, "ETag")) {
        if (!etag)
            etag = std::string(value.substr(0, max_validator_size + 1));
    } else if (equal_nocase(name, "Last-Modified")) {
        if (!last_modified)
            last_modified = std::string(value.substr(0, max_validator_size + 1));
    } else if (equal_nocase(name, "Content-Length")) {
        if (!content_length)
            content_length = parse_decimal(value);
    } else if (equal_nocase(name, "Content-Range")) {
        if (!range_sent)
            range = parse_content_range(value);
        range_sent = true;
    }
    return false;
}

std::string response_fields::validator() const
{
    if (etag && etag->compare(0, 2, "W/") != 0 && sendable(*etag))
        return *etag;
    if (last_modified && sendable(*last_modified))
        return *last_modified;
    return {};
}

}  // namespace fenrix
