#include "win/strings.hpp"

#include <cstring>
#include <system_error>

namespace wembra {

namespace {

constexpr int wide_stack_units = 512;
constexpr int narrow_stack_bytes = 1024;

// Zero-terminated input (-1) yields a count that includes the terminator;
// counted input is cut at its first zero unit.
template <class String>
void store_converted(String& out, const typename String::value_type* text, int count, bool terminated)
{
    using char_t = typename String::value_type;
    if (terminated) {
        if (count > 0)
            --count;
    } else {
        const char_t* zero = std::char_traits<char_t>::find(text, std::size_t(count), char_t(0));
        if (zero)
            count = int(zero - text);
    }
    out.assign(text, std::size_t(count));
}

template <class String>
int to_wide(UINT code_page, DWORD flags, const char* text, int length, String& out)
{
    if (length == 0)
        return 0;
    wchar_t stack[wide_stack_units];
    int result = MultiByteToWideChar(code_page, flags, text, length, stack, wide_stack_units);
    if (result) {
        store_converted(out, stack, result, length == -1);
        return result;
    }
    if (GetLastError() != ERROR_INSUFFICIENT_BUFFER)
        return 0;
    const int needed = MultiByteToWideChar(code_page, flags, text, length, nullptr, 0);
    if (!needed)
        return 0;
    String converted(std::size_t(needed), L'\0');
    result = MultiByteToWideChar(code_page, flags, text, length, converted.data(), needed);
    if (!result)
        return 0;
    store_converted(out, converted.data(), result, length == -1);
    return result;
}

}  // namespace

int multibyte_to_wide(UINT code_page, DWORD flags, const std::string& text, std::wstring& out)
{
    return to_wide(code_page, flags, text.data(), int(text.size()), out);
}

int multibyte_to_wide(UINT code_page, DWORD flags, const char* text, int length, std::wstring& out)
{
    return to_wide(code_page, flags, text, length, out);
}

int multibyte_to_wide(UINT code_page, DWORD flags, const char* text, int length, wiping_wstring& out)
{
    return to_wide(code_page, flags, text, length, out);
}

int wide_to_multibyte(UINT code_page, DWORD flags, const wchar_t* text, int length, std::string& out,
                      const char* default_char, BOOL* used_default_char)
{
    if (length == 0)
        return 0;
    char stack[narrow_stack_bytes];
    int result =
        WideCharToMultiByte(code_page, flags, text, length, stack, narrow_stack_bytes, default_char, used_default_char);
    if (result) {
        store_converted(out, stack, result, length == -1);
        return result;
    }
    if (GetLastError() != ERROR_INSUFFICIENT_BUFFER)
        return 0;
    const int needed = WideCharToMultiByte(code_page, flags, text, length, nullptr, 0, default_char, used_default_char);
    if (!needed)
        return 0;
    std::string converted(std::size_t(needed), '\0');
    result =
        WideCharToMultiByte(code_page, flags, text, length, converted.data(), needed, default_char, used_default_char);
    if (!result)
        return 0;
    store_converted(out, converted.data(), result, length == -1);
    return result;
}

int wide_to_multibyte(UINT code_page, DWORD flags, const std::wstring& text, std::string& out, const char* default_char,
                      BOOL* used_default_char)
{
    return wide_to_multibyte(code_page, flags, text.data(), int(text.size()), out, default_char, used_default_char);
}

std::wstring utf8_to_wide(const std::string& text)
{
    std::wstring out;
    multibyte_to_wide(CP_UTF8, 0, text, out);
    return out;
}

std::string wide_to_utf8(const std::wstring& text)
{
    std::string out;
    wide_to_multibyte(CP_UTF8, 0, text, out);
    return out;
}

std::string wide_to_utf8(const wchar_t* text)
{
    std::string out;
    wide_to_multibyte(CP_UTF8, 0, text, -1, out);
    return out;
}

int ascii_compare_nocase(const char* a, const char* b)
{
    return ascii_compare_nocase(a, b, std::size_t(-1));
}

int ascii_compare_nocase(const char* a, const char* b, std::size_t n)
{
    auto fold = [](unsigned char c) { return c >= 'A' && c <= 'Z' ? c + ('a' - 'A') : int(c); };
    for (std::size_t i = 0; i < n; ++i) {
        const int x = fold(static_cast<unsigned char>(a[i]));
        const int y = fold(static_cast<unsigned char>(b[i]));
        if (x != y)
            return x - y;
        if (x == 0)
            return 0;
    }
    return 0;
}

std::size_t bounded_length(const char* text, std::size_t n)
{
    const void* zero = std::memchr(text, 0, n);
    return zero ? std::size_t(static_cast<const char*>(zero) - text) : n;
}

void charset_converter::append(std::wstring& out, const char* data, std::size_t length) const
{
    const int count = int(bounded_length(data, length));
    if (count == 0)
        return;
    wchar_t stack[wide_stack_units];
    int result = MultiByteToWideChar(source_code_page, 0, data, count, stack, wide_stack_units);
    if (result) {
        out.append(stack, std::size_t(result));
        return;
    }
    if (GetLastError() == ERROR_INSUFFICIENT_BUFFER) {
        const int needed = MultiByteToWideChar(source_code_page, 0, data, count, nullptr, 0);
        if (needed) {
            const std::size_t old_size = out.size();
            out.resize(old_size + std::size_t(needed));
            result = MultiByteToWideChar(source_code_page, 0, data, count, out.data() + old_size, needed);
            if (result) {
                const wchar_t* tail = out.data() + old_size;
                const wchar_t* zero = std::char_traits<wchar_t>::find(tail, std::size_t(result), L'\0');
                out.resize(old_size + std::size_t(zero ? zero - tail : result));
                return;
            }
            out.resize(old_size);
        }
    }
    throw std::system_error(int(GetLastError()), std::system_category(), "MultiByteToWideChar failed");
}

void charset_converter::assign(std::wstring& out, const char* data, std::size_t length) const
{
    out.clear();
    append(out, data, length);
}

}  // namespace wembra
