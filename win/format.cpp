#include "win/format.hpp"

#include <windows.h>

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <cwchar>
#include <stdexcept>

#include "win/strings.hpp"

extern "C" {
// msvcrt.dll's locale-taking printf core (declared by MinGW only in its
// secure-API headers).
_CRTIMP int __cdecl _vsnprintf_l(char*, size_t, const char*, _locale_t, va_list);
_CRTIMP int __cdecl _vscprintf_l(const char*, _locale_t, va_list);
_CRTIMP int __cdecl _vsnwprintf_l(wchar_t*, size_t, const wchar_t*, _locale_t, va_list);
_CRTIMP int __cdecl _vscwprintf_l(const wchar_t*, _locale_t, va_list);
}

namespace wembra {

crt_locale default_locale;

crt_locale::crt_locale(const char* name)
{
    utf8_ = std::strcmp(name, ".UTF-8") == 0;
    handle_ = _create_locale(LC_ALL, utf8_ ? "C" : name);
}

crt_locale::~crt_locale()
{
    if (handle_)
        _free_locale(handle_);
}

namespace {

int print_core(char* buffer, std::size_t size, const char* format, _locale_t locale, va_list args)
{
    return _vsnprintf_l(buffer, size, format, locale, args);
}
int print_core(wchar_t* buffer, std::size_t size, const wchar_t* format, _locale_t locale, va_list args)
{
    return _vsnwprintf_l(buffer, size, format, locale, args);
}
int count_core(const char* format, _locale_t locale, va_list args)
{
    return _vscprintf_l(format, locale, args);
}
int count_core(const wchar_t* format, _locale_t locale, va_list args)
{
    return _vscwprintf_l(format, locale, args);
}

[[noreturn]] void throw_format_error(int code)
{
    if (code == EINVAL)
        throw std::invalid_argument("invalid vsnprintf arguments");
    if (code == EILSEQ)
        throw std::runtime_error("encoding error");
    throw std::runtime_error("failed to format string");
}

template <class Char, std::size_t StackUnits>
std::size_t append_core(std::basic_string<Char>& out, const Char* format, _locale_t locale, va_list args)
{
    Char stack[StackUnits];
    va_list first;
    va_copy(first, args);
    errno = 0;
    const int written = print_core(stack, StackUnits, format, locale, first);
    const int error = errno;
    va_end(first);
    if (written >= 0 && std::size_t(written) < StackUnits) {
        out.append(stack, std::size_t(written));
        return std::size_t(written);
    }
    if (written < 0 && error != 0 && error != ERANGE)
        throw_format_error(error);

    // Too long for the stack buffer: measure, then format into the new tail.
    va_list measure;
    va_copy(measure, args);
    const int length = count_core(format, locale, measure);
    va_end(measure);
    if (length < 0)
        throw_format_error(errno);
    const std::size_t old_size = out.size();
    out.resize(old_size + std::size_t(length) + 1);
    va_list second;
    va_copy(second, args);
    const int again = print_core(out.data() + old_size, std::size_t(length) + 1, format, locale, second);
    va_end(second);
    out.resize(old_size + std::size_t(length));
    if (again != length) {
        out.resize(old_size);
        throw std::runtime_error("failed to format string");
    }
    return std::size_t(length);
}

std::size_t append_narrow_core(std::string& out, const char* format, _locale_t locale, va_list args)
{
    return append_core<char, 1024>(out, format, locale, args);
}

std::size_t append_narrow_core(std::string& out, const char* format, _locale_t locale, ...)
{
    va_list args;
    va_start(args, locale);
    try {
        const std::size_t n = append_narrow_core(out, format, locale, args);
        va_end(args);
        return n;
    } catch (...) {
        va_end(args);
        throw;
    }
}

// One printf conversion of a format text ("%-5ls").
struct conversion {
    std::string text;    // "%" up to and including the conversion letter
    std::string length;  // "", "h", "hh", "l", "ll", "L", "I64", "I32", "I", "j", "z", "t", "w"
    char letter = 0;
    bool star_width = false;
    bool star_precision = false;
};

const char* parse_conversion(const char* p, conversion& c)
{
    const char* start = p++;
    while (*p && std::strchr("-+ #0'", *p))
        ++p;
    if (*p == '*') {
        c.star_width = true;
        ++p;
    } else {
        while (*p >= '0' && *p <= '9')
            ++p;
    }
    if (*p == '.') {
        ++p;
        if (*p == '*') {
            c.star_precision = true;
            ++p;
        } else {
            while (*p >= '0' && *p <= '9')
                ++p;
        }
    }
    const char* length_start = p;
    if (!std::strncmp(p, "I64", 3) || !std::strncmp(p, "I32", 3))
        p += 3;
    else if (!std::strncmp(p, "hh", 2) || !std::strncmp(p, "ll", 2))
        p += 2;
    else if (*p && std::strchr("hlLIjztw", *p))
        ++p;
    c.length.assign(length_start, p);
    if (!*p)
        throw std::invalid_argument("invalid vsnprintf arguments");
    c.letter = *p++;
    c.text.assign(start, p);
    return p;
}

bool is_wide_text_conversion(const conversion& c)
{
    const bool wide_length = c.length == "l" || c.length == "w";
    return c.letter == 'S' || c.letter == 'C' || ((c.letter == 's' || c.letter == 'c') && wide_length);
}

// The same conversion with its length modifier and letter replaced by
// "s", for a text already converted to UTF-8.
std::string as_narrow_string_conversion(const conversion& c)
{
    return c.text.substr(0, c.text.size() - c.length.size() - 1) + "s";
}

// Formats a narrow text whose UTF-16 arguments must become UTF-8 although
// the C runtime has no UTF-8 locale: each conversion is handed to the
// printf core alone, with %ls and %lc arguments converted here.
std::size_t append_utf8(std::string& out, const char* format, _locale_t locale, va_list args)
{
    const std::size_t old_size = out.size();
    for (const char* p = format; *p;) {
        if (*p != '%') {
            const char* literal = p;
            while (*p && *p != '%')
                ++p;
            out.append(literal, p);
            continue;
        }
        if (p[1] == '%') {
            out += '%';
            p += 2;
            continue;
        }
        conversion c;
        p = parse_conversion(p, c);
        int width = 0, precision = 0;
        if (c.star_width)
            width = va_arg(args, int);
        if (c.star_precision)
            precision = va_arg(args, int);
        auto emit = [&](const char* spec, auto value) {
            if (c.star_width && c.star_precision)
                append_narrow_core(out, spec, locale, width, precision, value);
            else if (c.star_width)
                append_narrow_core(out, spec, locale, width, value);
            else if (c.star_precision)
                append_narrow_core(out, spec, locale, precision, value);
            else
                append_narrow_core(out, spec, locale, value);
        };
        const std::string& l = c.length;
        const bool wide64 = l == "ll" || l == "I64" || l == "j" || l == "L";
        switch (c.letter) {
        case 'd':
        case 'i':
        case 'u':
        case 'o':
        case 'x':
        case 'X':
            if (wide64)
                emit(c.text.c_str(), va_arg(args, long long));
            else
                emit(c.text.c_str(), va_arg(args, int));  // int, long, size_t: 32 bits here
            break;
        case 'e':
        case 'E':
        case 'f':
        case 'F':
        case 'g':
        case 'G':
        case 'a':
        case 'A':
            if (l == "L")
                emit(("%" + c.text.substr(1, c.text.size() - 3) + c.letter).c_str(), double(va_arg(args, long double)));
            else
                emit(c.text.c_str(), va_arg(args, double));
            break;
        case 'p':
            emit(c.text.c_str(), va_arg(args, void*));
            break;
        case 's':
        case 'S':
            if (is_wide_text_conversion(c)) {
                const wchar_t* wide = va_arg(args, const wchar_t*);
                const std::string utf8 = wide ? wide_to_utf8(wide) : std::string("(null)");
                emit(as_narrow_string_conversion(c).c_str(), utf8.c_str());
            } else {
                emit(c.text.c_str(), va_arg(args, const char*));
            }
            break;
        case 'c':
        case 'C':
            if (is_wide_text_conversion(c)) {
                const wchar_t unit[2] = {wchar_t(va_arg(args, int)), 0};
                const std::string utf8 = wide_to_utf8(unit);
                emit(as_narrow_string_conversion(c).c_str(), utf8.c_str());
            } else {
                emit(c.text.c_str(), va_arg(args, int));
            }
            break;
        default:  // %n and anything unknown: never write through arguments
            out.resize(old_size);
            throw std::invalid_argument("invalid vsnprintf arguments");
        }
    }
    return out.size() - old_size;
}

bool has_wide_text_conversion(const char* format)
{
    for (const char* p = std::strchr(format, '%'); p; p = std::strchr(p, '%')) {
        if (p[1] == '%') {
            p += 2;
            continue;
        }
        conversion c;
        p = parse_conversion(p, c);
        if (is_wide_text_conversion(c))
            return true;
    }
    return false;
}

}  // namespace

std::size_t format_append_v(std::string& out, const char* format, locale_view locale, va_list args)
{
    if (locale.utf8 && has_wide_text_conversion(format))
        return append_utf8(out, format, locale.handle, args);
    return append_narrow_core(out, format, locale.handle, args);
}

std::size_t format_append_v(std::wstring& out, const wchar_t* format, locale_view locale, va_list args)
{
    return append_core<wchar_t, 512>(out, format, locale.handle, args);
}

#define LUMORA_FORWARD_VARIADIC(call, last) \
    va_list args;                           \
    va_start(args, last);                   \
    try {                                   \
        const std::size_t n = call;         \
        va_end(args);                       \
        return n;                           \
    } catch (...) {                         \
        va_end(args);                       \
        throw;                              \
    }

std::size_t format_append(std::string& out, const char* format, locale_view locale,
                          ...){LUMORA_FORWARD_VARIADIC(format_append_v(out, format, locale, args), locale)}

std::size_t format_append(std::wstring& out, const wchar_t* format, locale_view locale,
                          ...){LUMORA_FORWARD_VARIADIC(format_append_v(out, format, locale, args), locale)}

std::size_t format_assign(std::string& out, const char* format, locale_view locale, ...)
{
    out.clear();
    LUMORA_FORWARD_VARIADIC(format_append_v(out, format, locale, args), locale)
}

std::size_t format_assign(std::wstring& out, const wchar_t* format, locale_view locale, ...)
{
    out.clear();
    LUMORA_FORWARD_VARIADIC(format_append_v(out, format, locale, args), locale)
}

std::size_t format_assign(std::wstring& out, const wchar_t* format, ...)
{
    out.clear();
    LUMORA_FORWARD_VARIADIC(format_append_v(out, format, default_locale, args), format)
}

std::string format(const char* format, locale_view locale, ...)
{
    std::string out;
    va_list args;
    va_start(args, locale);
    try {
        format_append_v(out, format, locale, args);
    } catch (...) {
        va_end(args);
        throw;
    }
    va_end(args);
    return out;
}

}  // namespace wembra
