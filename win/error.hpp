// Exceptions that carry a Windows error code next to a readable UTF-8 text:
// the given text, ": " and the system's message for the code.
#pragma once

#include <windows.h>

#include <stdexcept>
#include <string>

namespace wembra {

template <class T>
class num_runtime_error : public std::runtime_error {
public:
    num_runtime_error(T number, const std::string& text) : std::runtime_error(text), number(number) {}
    num_runtime_error(T number, const char* text) : std::runtime_error(text), number(number) {}

    T number;
};

class win_runtime_error : public num_runtime_error<DWORD> {
public:
    win_runtime_error(DWORD number, const char* text);
    // Takes the code from GetLastError(), for use right after a failed call.
    explicit win_runtime_error(const char* text);

    // The UTF-8 message of a Win32 code, without trailing white space;
    // "Error %u" or "Error 0x%X" when the system has none. Keeps the
    // thread's last-error value.
    static std::string message(DWORD code, DWORD language = 0);
};

class com_runtime_error : public num_runtime_error<LONG> {
public:
    com_runtime_error(LONG number, const char* text);

    static std::string message(LONG code, DWORD language = 0);
};

// text + ": " + message, the composition every error type here uses.
std::string compose_error_text(const char* text, const std::string& message);

// The UTF-8 text of a message identifier from the system table with the
// "Error %u" / "Error 0x%X" fallback; shared by the error types above.
std::string system_message_text(DWORD code, DWORD language);

}  // namespace wembra
