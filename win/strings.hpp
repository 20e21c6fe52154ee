// Conversions between code pages into growable strings, and small text
// helpers. Short texts convert in one call through a stack buffer; longer
// ones take a second pass straight into the destination.
#pragma once

#include <windows.h>

#include <cstddef>
#include <string>

#include "win/wiping_allocator.hpp"

namespace wembra {

// Each conversion returns what the last Windows call returned: 0 means
// failure (GetLastError tells why) and leaves the destination as it was.
// A length of -1 means zero-terminated; the terminator is not stored.
int multibyte_to_wide(UINT code_page, DWORD flags, const std::string& text, std::wstring& out);
int multibyte_to_wide(UINT code_page, DWORD flags, const char* text, int length, std::wstring& out);
int multibyte_to_wide(UINT code_page, DWORD flags, const char* text, int length, wiping_wstring& out);
int wide_to_multibyte(UINT code_page, DWORD flags, const wchar_t* text, int length, std::string& out,
                      const char* default_char = nullptr, BOOL* used_default_char = nullptr);
int wide_to_multibyte(UINT code_page, DWORD flags, const std::wstring& text, std::string& out,
                      const char* default_char = nullptr, BOOL* used_default_char = nullptr);

// UTF-8 <-> UTF-16 shorthands for the common case.
std::wstring utf8_to_wide(const std::string& text);
std::string wide_to_utf8(const std::wstring& text);
std::string wide_to_utf8(const wchar_t* text);

// Compares zero-terminated texts folding only A-Z to a-z; bytes compare as
// unsigned. The bounded form compares at most n bytes.
int ascii_compare_nocase(const char* a, const char* b);
int ascii_compare_nocase(const char* a, const char* b, std::size_t n);

// The count of bytes before the first zero, at most n.
std::size_t bounded_length(const char* text, std::size_t n);

// Decodes bytes of one code page into UTF-16 (the crash reporter's reply
// decoder uses 1250, 65000 or 65001 as source).
class charset_converter {
public:
    charset_converter(UINT source_code_page, UINT target_code_page = 1200)
        : source_charset(WORD(source_code_page)), target_charset(WORD(target_code_page)),
          source_code_page(source_code_page), target_code_page(target_code_page)
    {
    }

    // Decodes data (up to length bytes or the first zero byte) and appends it.
    // Throws std::system_error "MultiByteToWideChar failed" on failure.
    void append(std::wstring& out, const char* data, std::size_t length) const;
    void assign(std::wstring& out, const char* data, std::size_t length) const;

    WORD source_charset;
    WORD target_charset;
    WORD replacement = 63;
    UINT source_code_page;
    UINT target_code_page;
};

}  // namespace wembra
