#include "http/http_error.hpp"

#include "win/handle.hpp"
#include "win/strings.hpp"
#include "win/system_text.hpp"

namespace wembra {

namespace {

bool is_trailing_space(wchar_t c)
{
    return c == L' ' || c == L'\t' || c == L'\n' || c == L'\r' || c == L'\f' || c == L'\v';
}

// WinHTTP's own error codes; their texts live in WINHTTP.DLL.
bool is_winhttp_code(DWORD code)
{
    return code > 12000 && code <= 12193;
}

}  // namespace

std::string http_error::message(DWORD code, DWORD language)
{
    const DWORD saved = GetLastError();
    std::string text;
    {
        library winhttp(LoadLibraryW(L"WINHTTP.DLL"));
        std::wstring wide;
        if (is_winhttp_code(code) && winhttp &&
            format_message(FORMAT_MESSAGE_FROM_HMODULE | FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS,
                           winhttp.get(), code, language, wide)) {
            while (!wide.empty() && is_trailing_space(wide.back()))
                wide.pop_back();
            wide_to_multibyte(CP_UTF8, 0, wide, text);
        } else {
            text = system_message_text(code, language);
        }
    }
    SetLastError(saved);
    return text;
}

http_error::http_error(DWORD code, const char* text)
    : num_runtime_error<DWORD>(code, compose_error_text(text, message(code)))
{
}

http_error::http_error(DWORD code, const std::string& text) : http_error(code, text.c_str()) {}

http_error::http_error(const char* text) : http_error(GetLastError(), text) {}

}  // namespace wembra
