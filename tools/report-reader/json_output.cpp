#include "tools/report-reader/json_output.hpp"

#include <cstdio>

namespace report_reader {

namespace {

// The length of the valid UTF-8 sequence at text[i], 0 when there is none.
std::size_t utf8_length(const std::string& text, std::size_t i)
{
    const auto byte = [&](std::size_t k) { return static_cast<unsigned char>(text[k]); };
    const unsigned char lead = byte(i);
    std::size_t length = lead < 0x80  ? 1
        : lead >= 0xC2 && lead < 0xE0 ? 2
        : lead >= 0xE0 && lead < 0xF0 ? 3
        : lead >= 0xF0 && lead < 0xF5 ? 4
                                      : 0;
    if (length == 0 || i + length > text.size())
        return 0;
    for (std::size_t k = 1; k < length; ++k)
        if ((byte(i + k) & 0xC0) != 0x80)
            return 0;
    // Overlong forms, surrogates and values beyond U+10FFFF.
    if ((lead == 0xE0 && byte(i + 1) < 0xA0) || (lead == 0xED && byte(i + 1) >= 0xA0) ||
        (lead == 0xF0 && byte(i + 1) < 0x90) || (lead == 0xF4 && byte(i + 1) >= 0x90))
        return 0;
    return length;
}

std::string number(std::uint64_t value)
{
    return std::to_string(value);
}

}  // namespace

std::string json_string(const std::string& text)
{
    std::string out = "\"";
    for (std::size_t i = 0; i < text.size();) {
        const unsigned char c = static_cast<unsigned char>(text[i]);
        const std::size_t length = utf8_length(text, i);
        if (length == 0) {
            out += "\\ufffd";
            ++i;
            continue;
        }
        if (c == '"' || c == '\\') {
            out += '\\';
            out += char(c);
        } else if (c < 0x20) {
            char escaped[8];
            std::snprintf(escaped, sizeof escaped, "\\u%04x", c);
            out += escaped;
        } else {
            out.append(text, i, length);
        }
        i += length;
    }
    return out + "\"";
}

std::string error_json(const std::string& what)
{
    return "{\"error\": " + json_string(what) + "}";
}

std::string to_json(const report& r, const symbol_lookup& symbols)
{
    std::string out = std::string("{\"kind\": \"") + (r.detailed ? "bxr" : "bxo") +
        "\", \"machine\": " + json_string(machine_name(r.machine)) + ", \"exceptions\": [";
    for (std::size_t i = 0; i < r.exceptions.size(); ++i) {
        const exception_record& e = r.exceptions[i];
        out += std::string(i ? ", " : "") + "{\"code\": " + number(e.code) +
            ", \"name\": " + json_string(exception_code_name(e.code)) + ", \"flags\": " + number(e.flags) +
            ", \"address\": " + number(e.address) + ", \"parameters\": [";
        for (std::size_t k = 0; k < e.parameters.size(); ++k)
            out += (k ? ", " : "") + number(e.parameters[k]);
        out += "]}";
    }
    out += "], \"registers\": [";
    if (r.context) {
        for (std::size_t i = 0; i < r.context->registers.size(); ++i)
            out += std::string(i ? ", " : "") + "[" + json_string(r.context->registers[i].first) + ", " +
                number(r.context->registers[i].second) + "]";
    }
    out += "], \"trace\": [";
    for (std::size_t i = 0; i < r.trace.size(); ++i)
        out += (i ? ", " : "") + json_string(to_utf8(r.trace[i]));
    out += "], \"modules\": [";
    for (std::size_t i = 0; i < r.modules.size(); ++i) {
        const module_record& m = r.modules[i];
        out += std::string(i ? ", " : "") + "{\"name\": " + json_string(to_utf8(m.name)) +
            ", \"time_stamp\": " + number(m.time_stamp);
        if (m.checksum)
            out += ", \"checksum\": " + number(*m.checksum);
        out += ", \"base\": " + number(m.base) + "}";
    }
    out += "], \"frames\": [";
    for (std::size_t i = 0; i < r.frames.size(); ++i) {
        const frame_record& f = r.frames[i];
        out += std::string(i ? ", " : "") + "{\"module\": " + std::to_string(f.module) +
            ", \"offset\": " + number(f.offset);
        if (i < symbols.size() && !symbols[i].empty()) {
            const std::string& symbol = symbols[i];
            const std::size_t at = symbol.find(" at ");
            out += ", \"function\": " + json_string(symbol.substr(0, at));
            if (at != std::string::npos)
                out += ", \"place\": " + json_string(symbol.substr(at + 4));
        }
        out += ", \"snapshot\": " + std::to_string(f.snapshot ? f.snapshot->bytes.size() : 0) + "}";
    }
    return out + "]}";
}

}  // namespace report_reader
