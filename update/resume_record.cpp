#include "update/resume_record.hpp"

#include <stdexcept>

#include "signature/minisign.hpp"
#include "update/response_fields.hpp"

namespace fenrix {

namespace {

constexpr std::string_view magic = "Lumora resume record 1\n";
constexpr std::size_t check_size = 128;  // the hash in hexadecimal

std::string check_of(std::string_view bytes)
{
    minisign::content_hash hash;
    hash.update(bytes.data(), bytes.size());
    const minisign::content_digest digest = hash.finish();
    static const char digits[] = "0123456789abcdef";
    std::string out;
    for (const std::uint8_t b : digest) {
        out += digits[b >> 4];
        out += digits[b & 15];
    }
    return out;
}

void add_field(std::string& out, std::string_view name, std::string_view value, std::size_t limit)
{
    if (value.size() > limit)
        throw std::invalid_argument("resume record field " + std::string(name) + " is too long");
    out += name;
    out += ' ';
    out += std::to_string(value.size());
    out += '\n';
    out += value;
    out += '\n';
}

// Reads "<name> <decimal>\n" at the front of `bytes`; the number up to `limit`.
std::optional<std::uint64_t> take_number(std::string_view& bytes, std::string_view name, std::uint64_t limit)
{
    if (bytes.substr(0, name.size()) != name || bytes.size() <= name.size() || bytes[name.size()] != ' ')
        return std::nullopt;
    bytes.remove_prefix(name.size() + 1);
    std::uint64_t value = 0;
    std::size_t digits = 0;
    while (digits < bytes.size() && bytes[digits] >= '0' && bytes[digits] <= '9') {
        value = value * 10 + unsigned(bytes[digits] - '0');
        if (++digits > 19 || value > limit)
            return std::nullopt;
    }
    if (digits == 0 || digits >= bytes.size() || bytes[digits] != '\n')
        return std::nullopt;
    bytes.remove_prefix(digits + 1);
    return value;
}

std::optional<std::string> take_field(std::string_view& bytes, std::string_view name, std::size_t limit)
{
    const auto size = take_number(bytes, name, limit);
    if (!size || bytes.size() <= *size || bytes[*size] != '\n')
        return std::nullopt;
    std::string value(bytes.substr(0, *size));
    bytes.remove_prefix(*size + 1);
    return value;
}

}  // namespace

std::string resume_record_bytes(const resume_record& record)
{
    std::string out(magic);
    add_field(out, "url", record.url, max_record_url_size);
    add_field(out, "validator", record.validator, max_validator_size);
    out += "total " + std::to_string(record.total) + "\n";
    add_field(out, "signature", record.signature, minisign::max_signature_file_size);
    out += "check " + check_of(out) + "\n";
    return out;
}

std::optional<resume_record> read_resume_record(std::string_view bytes)
{
    if (bytes.size() > max_resume_record_size || bytes.substr(0, magic.size()) != magic)
        return std::nullopt;
    const std::size_t check_at = bytes.rfind("check ");
    if (check_at == std::string_view::npos || bytes.size() != check_at + 6 + check_size + 1 || bytes.back() != '\n' ||
        bytes.substr(check_at + 6, check_size) != check_of(bytes.substr(0, check_at)))
        return std::nullopt;
    std::string_view rest = bytes.substr(magic.size(), check_at - magic.size());
    resume_record record;
    auto url = take_field(rest, "url", max_record_url_size);
    auto validator = url ? take_field(rest, "validator", max_validator_size) : std::nullopt;
    auto total = validator ? take_number(rest, "total", std::uint64_t(1) << 62) : std::nullopt;
    auto signature = total ? take_field(rest, "signature", minisign::max_signature_file_size) : std::nullopt;
    if (!signature || !rest.empty())
        return std::nullopt;
    record.url = std::move(*url);
    record.validator = std::move(*validator);
    record.total = *total;
    record.signature = std::move(*signature);
    return record;
}

}  // namespace fenrix
