#include "crashreport/reply.hpp"

#include <cstring>

namespace brindlex {

namespace {

bool is_space(char c)
{
    return c == ' ' || c == '\t' || c == '\r' || c == '\n' || c == '\f' || c == '\v';
}

char lower(char c)
{
    return c >= 'A' && c <= 'Z' ? char(c - 'A' + 'a') : c;
}

bool equal_nocase(const char* a, const char* b, std::size_t n)
{
    for (std::size_t i = 0; i < n; ++i)
        if (lower(a[i]) != lower(b[i]))
            return false;
    return true;
}

bool equal_nocase(const std::string& a, const char* b)
{
    return a.size() == std::strlen(b) && equal_nocase(a.data(), b, a.size());
}

}  // namespace

bool read_content_type_line(const char* line, std::size_t length, std::string& content_type)
{
    const char* p = line;
    const char* end = line + length;
    while (p < end && is_space(*p))
        ++p;
    static constexpr char name[] = "Content-Type";
    constexpr std::size_t name_length = sizeof name - 1;
    if (std::size_t(end - p) < name_length || !equal_nocase(p, name, name_length))
        return false;
    p += name_length;
    while (p < end && is_space(*p))
        ++p;
    if (p == end || *p != ':')
        return false;
    ++p;
    while (p < end && is_space(*p))
        ++p;
    const char* value_end = p;
    while (value_end < end && *value_end != '\0')
        ++value_end;
    while (value_end > p && is_space(value_end[-1]))
        --value_end;
    content_type.assign(p, value_end);
    return true;
}

media_type split_content_type(const std::string& content_type)
{
    media_type media;
    const std::size_t semicolon = content_type.find(';');
    media.type = content_type.substr(0, semicolon);
    if (semicolon == std::string::npos)
        return media;
    std::size_t p = semicolon + 1;
    const std::size_t n = content_type.size();
    while (p < n && is_space(content_type[p]))
        ++p;
    static constexpr char name[] = "charset";
    constexpr std::size_t name_length = sizeof name - 1;
    // "charset" must be followed by at least one more character.
    if (n - p <= name_length || !equal_nocase(content_type.data() + p, name, name_length))
        return media;
    p += name_length;
    while (p < n && is_space(content_type[p]))
        ++p;
    if (p == n || content_type[p] != '=')
        return media;
    ++p;
    while (p < n && is_space(content_type[p]))
        ++p;
    media.has_charset = true;
    media.charset = content_type.substr(p);
    return media;
}

bool is_plain_text(const media_type& media)
{
    return equal_nocase(media.type, "text/plain");
}

reply_decoding decoding_for(const media_type& media)
{
    if (!media.has_charset || equal_nocase(media.charset, "windows-1250"))
        return reply_decoding::windows_1250;
    if (equal_nocase(media.charset, "utf-7"))
        return reply_decoding::utf7;
    if (equal_nocase(media.charset, "utf-16"))
        return reply_decoding::utf16;
    if (equal_nocase(media.charset, "utf-32"))
        return reply_decoding::none;
    return reply_decoding::utf8;
}

}  // namespace brindlex
