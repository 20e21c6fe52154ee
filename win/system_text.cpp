#include "win/system_text.hpp"

#include <memory>
#include <vector>

#include "win/wiping_allocator.hpp"

namespace wembra {

namespace {

template <class String>
DWORD expand_into_string(const wchar_t* text, String& out)
{
    DWORD size = DWORD(wcslen(text) + 256);
    for (;;) {
        out.resize(size);
        const DWORD result = ExpandEnvironmentStringsW(text, out.data(), size);
        if (result == 0) {
            out.clear();
            return 0;
        }
        if (result > size) {
            size = result;
            continue;
        }
        out.resize(result - 1);
        return result;
    }
}

bool is_string_type(DWORD type)
{
    return type == REG_SZ || type == REG_MULTI_SZ;
}

// Drops the one terminating zero a string value usually carries.
void drop_terminator(wiping_wstring& text)
{
    if (text.size() > 1 && text.back() == L'\0')
        text.pop_back();
    else if (text.size() == 1 && text[0] == L'\0')
        text.clear();
}

LONG expand_into(const wchar_t* raw, wiping_wstring& out)
{
    return expand_into_string(raw, out) ? ERROR_SUCCESS : LONG(GetLastError());
}

}  // namespace

DWORD expand_environment_strings(const wchar_t* text, std::wstring& out)
{
    return expand_into_string(text, out);
}

LONG reg_query_string(HKEY key, const wchar_t* value_name, std::wstring& out)
{
    wiping_wstring text;
    const LONG status = reg_query_string(key, value_name, text);
    if (status == ERROR_SUCCESS)
        out.assign(text.data(), text.size());
    return status;
}

// Every buffer the value passes through wipes itself when it is released:
// the values may be secrets (the proxy password).
LONG reg_query_string(HKEY key, const wchar_t* value_name, wiping_wstring& out)
{
    wchar_t buffer[512 + 1];
    // Values may be secrets (the proxy password): leave no copy on the stack.
    struct wipe_on_exit {
        wchar_t* block;
        std::size_t bytes;
        ~wipe_on_exit() { secure_zero(block, bytes); }
    } wipe{buffer, sizeof buffer};
    DWORD type = 0;
    DWORD bytes = sizeof buffer - sizeof(wchar_t);
    LONG status = RegQueryValueExW(key, value_name, nullptr, &type, reinterpret_cast<BYTE*>(buffer), &bytes);
    if (status == ERROR_SUCCESS) {
        if (is_string_type(type)) {
            out.assign(buffer, bytes / sizeof(wchar_t));
            drop_terminator(out);
            return ERROR_SUCCESS;
        }
        if (type == REG_EXPAND_SZ) {
            buffer[bytes / sizeof(wchar_t)] = L'\0';
            return expand_into(buffer, out);
        }
        return ERROR_INVALID_DATA;
    }
    if (status != ERROR_MORE_DATA)
        return status;

    if (is_string_type(type)) {
        wiping_wstring text(bytes / sizeof(wchar_t) + 1, L'\0');
        DWORD size = bytes;
        status = RegQueryValueExW(key, value_name, nullptr, &type, reinterpret_cast<BYTE*>(text.data()), &size);
        if (status == ERROR_SUCCESS) {
            // The value may have changed between the two queries; a new type
            // is not a string we can trust here.
            if (!is_string_type(type))
                return ERROR_INVALID_DATA;
            text.resize(size / sizeof(wchar_t));
            drop_terminator(text);
            out.swap(text);
        }
        return status;
    }
    if (type == REG_EXPAND_SZ) {
        std::vector<wchar_t, wiping_allocator<wchar_t>> raw(bytes / sizeof(wchar_t) + 2, L'\0');
        DWORD size = bytes;
        status = RegQueryValueExW(key, value_name, nullptr, &type, reinterpret_cast<BYTE*>(raw.data()), &size);
        if (status != ERROR_SUCCESS)
            return status;
        if (type != REG_EXPAND_SZ)
            return ERROR_INVALID_DATA;
        raw[size / sizeof(wchar_t)] = L'\0';
        return expand_into(raw.data(), out);
    }
    return ERROR_INVALID_DATA;
}

DWORD format_message(DWORD flags, LPCVOID source, DWORD message_id, DWORD language, std::wstring& out,
                     va_list* arguments)
{
    wchar_t* text = nullptr;
    const DWORD length = FormatMessageW(flags | FORMAT_MESSAGE_ALLOCATE_BUFFER, source, message_id, language,
                                        reinterpret_cast<wchar_t*>(&text), 0, arguments);
    if (length) {
        out.assign(text, length);
    }
    if (text)
        LocalFree(text);
    return length;
}

}  // namespace wembra
