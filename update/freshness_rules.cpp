#include "update/freshness_rules.hpp"

#include <stdexcept>

#include "update/descriptor.hpp"

namespace fenrix {

std::string percent_decoded(std::string_view text)
{
    std::string out;
    for (std::size_t i = 0; i < text.size(); ++i) {
        const int high = i + 2 < text.size() ? hex_digit_value(text[i + 1]) : -1;
        const int low = i + 2 < text.size() ? hex_digit_value(text[i + 2]) : -1;
        if (text[i] == '%' && high >= 0 && low >= 0) {
            out += char(high * 16 + low);
            i += 2;
        } else {
            out += text[i];
        }
    }
    return out;
}

std::string requested_file_name(std::string_view url_path)
{
    url_path = url_path.substr(0, url_path.find_first_of("?#"));
    const std::size_t slash = url_path.rfind('/');
    if (slash != std::string_view::npos)
        url_path.remove_prefix(slash + 1);
    return percent_decoded(url_path);
}

void check_trusted_comment_fields(const minisign::trusted_comment_fields& fields, std::string_view file_name,
                                  std::uint64_t not_before, std::optional<std::uint64_t> accepted)
{
    if (fields.file && *fields.file != file_name)
        throw std::runtime_error("Minisign signature is for another file");
    if (fields.timestamp && *fields.timestamp < not_before)
        throw std::runtime_error("Minisign signature is older than this program accepts");
    if (accepted && (!fields.timestamp || *fields.timestamp < *accepted))
        throw std::runtime_error("Minisign signature is older than one already accepted");
}

}  // namespace fenrix
