#include "update/descriptor_packages.hpp"

#include "stream/line_reader.hpp"
#include "update/descriptor.hpp"

namespace fenrix {

namespace {

std::optional<minisign::content_digest> parse_digest(std::string_view hex)
{
    minisign::content_digest digest;
    if (hex.size() != 2 * digest.size())
        return std::nullopt;
    for (std::size_t i = 0; i < digest.size(); ++i) {
        const int high = hex_digit_value(hex[2 * i]);
        const int low = hex_digit_value(hex[2 * i + 1]);
        if (high < 0 || low < 0)
            return std::nullopt;
        digest[i] = std::uint8_t(high * 16 + low);
    }
    return digest;
}

}  // namespace

std::vector<descriptor_package> read_descriptor_packages(stream::basic& input)
{
    constexpr std::string_view prefix = "package ";
    std::vector<descriptor_package> packages;
    std::string line;
    for (unsigned index = 0;; ++index) {
        read_line(input, line);
        if (input.state != stream::ok)
            return packages;
        const std::string_view trimmed = trim_line(line);
        if (index < 3 || !trimmed.starts_with(prefix))
            continue;
        const std::string_view rest = trimmed.substr(prefix.size());
        const std::size_t space = rest.rfind(' ');
        if (space == std::string_view::npos)
            continue;
        const std::string_view name = trim_line(rest.substr(0, space));
        if (name.empty())
            continue;
        packages.push_back({std::string(name), parse_digest(rest.substr(space + 1))});
    }
}

const descriptor_package* find_descriptor_package(const std::vector<descriptor_package>& packages,
                                                  std::string_view name)
{
    for (const descriptor_package& package : packages) {
        if (package.name == name)
            return &package;
    }
    return nullptr;
}

}  // namespace fenrix
