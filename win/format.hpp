// printf-style formatting into growable strings with an explicit C runtime
// locale. Short results are formatted once into a stack buffer; longer ones
// are measured and formatted straight into the string.
#pragma once

#include <cstdarg>
#include <locale.h>
#include <string>

namespace wembra {

// An owned C runtime locale. msvcrt.dll has no UTF-8 locale, so a locale
// named ".UTF-8" is the "C" locale whose %ls and %lc arguments the narrow
// formatter converts to UTF-8 itself.
class crt_locale {
public:
    crt_locale() = default;  // null: the C runtime's current locale
    explicit crt_locale(const char* name);
    ~crt_locale();
    crt_locale(const crt_locale&) = delete;
    crt_locale& operator=(const crt_locale&) = delete;

    _locale_t handle() const { return handle_; }
    bool utf8() const { return utf8_; }

private:
    _locale_t handle_ = nullptr;
    bool utf8_ = false;
};

// Never created: formatting with it uses the C runtime's current locale.
extern crt_locale default_locale;

// What the formatters take: a crt_locale passed by value, since a variadic
// function's last named parameter cannot be a reference.
struct locale_view {
    locale_view(const crt_locale& locale) : handle(locale.handle()), utf8(locale.utf8()) {}
    _locale_t handle;
    bool utf8;
};

std::size_t format_append(std::string& out, const char* format, locale_view locale, ...);
std::size_t format_append_v(std::string& out, const char* format, locale_view locale, va_list args);
std::size_t format_append(std::wstring& out, const wchar_t* format, locale_view locale, ...);
std::size_t format_append_v(std::wstring& out, const wchar_t* format, locale_view locale, va_list args);

std::size_t format_assign(std::string& out, const char* format, locale_view locale, ...);
std::size_t format_assign(std::wstring& out, const wchar_t* format, locale_view locale, ...);
// Replaces `out` with text formatted in the current locale.
std::size_t format_assign(std::wstring& out, const wchar_t* format, ...);

std::string format(const char* format, locale_view locale, ...);

}  // namespace wembra
