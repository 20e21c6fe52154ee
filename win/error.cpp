#include "win/error.hpp"

#include "win/format.hpp"
#include "win/strings.hpp"
#include "win/system_text.hpp"

namespace wembra {

namespace {
bool is_trailing_space(wchar_t c)
{
    return c == L' ' || c == L'\t' || c == L'\n' || c == L'\r' || c == L'\f' || c == L'\v';
}
}  // namespace

std::string system_message_text(DWORD code, DWORD language)
{
    std::wstring text;
    if (format_message(FORMAT_MESSAGE_IGNORE_INSERTS | FORMAT_MESSAGE_FROM_SYSTEM, nullptr, code, language, text)) {
        while (!text.empty() && is_trailing_space(text.back()))
            text.pop_back();
    } else {
        format_assign(text, code < 0x10000 ? L"Error %u" : L"Error 0x%X", unsigned(code));
    }
    std::string utf8;
    wide_to_multibyte(CP_UTF8, 0, text, utf8);
    return utf8;
}

std::string compose_error_text(const char* text, const std::string& message)
{
    std::string composed(text);
    composed += ": ";
    composed += message;
    return composed;
}

std::string win_runtime_error::message(DWORD code, DWORD language)
{
    const DWORD saved = GetLastError();
    std::string text = system_message_text(code, language);
    SetLastError(saved);
    return text;
}

win_runtime_error::win_runtime_error(DWORD number, const char* text)
    : num_runtime_error<DWORD>(number, compose_error_text(text, message(number)))
{
}

win_runtime_error::win_runtime_error(const char* text) : win_runtime_error(GetLastError(), text) {}

std::string com_runtime_error::message(LONG code, DWORD language)
{
    return system_message_text(DWORD(code), language);
}

com_runtime_error::com_runtime_error(LONG number, const char* text)
    : num_runtime_error<LONG>(number, compose_error_text(text, message(number)))
{
}

}  // namespace wembra
