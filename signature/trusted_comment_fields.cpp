#include "signature/trusted_comment_fields.hpp"

#include <limits>

namespace fenrix::minisign {

namespace {

std::optional<std::uint64_t> parse_unix_time(std::string_view digits)
{
    if (digits.empty() || digits.size() > 20)
        return std::nullopt;
    std::uint64_t value = 0;
    for (char c : digits) {
        if (c < '0' || c > '9')
            return std::nullopt;
        const std::uint64_t digit = std::uint64_t(c - '0');
        if (value > (std::numeric_limits<std::uint64_t>::max() - digit) / 10)
            return std::nullopt;
        value = value * 10 + digit;
    }
    return value;
}

}  // namespace

trusted_comment_fields parse_trusted_comment_fields(std::string_view text)
{
    constexpr std::string_view timestamp_name = "timestamp:";
    constexpr std::string_view file_name = "file:";
    trusted_comment_fields fields;
    bool timestamp_seen = false;
    for (;;) {
        const std::size_t tab = text.find('\t');
        const std::string_view part = text.substr(0, tab);
        if (!timestamp_seen && part.starts_with(timestamp_name)) {
            timestamp_seen = true;
            fields.timestamp = parse_unix_time(part.substr(timestamp_name.size()));
        } else if (!fields.file && part.starts_with(file_name)) {
            fields.file.emplace(part.substr(file_name.size()));
        }
        if (tab == std::string_view::npos)
            return fields;
        text.remove_prefix(tab + 1);
    }
}

}  // namespace fenrix::minisign
