// A stand-in for msiexec.exe that the tests put where the program's search
// for "msiexec.exe" finds it first (under Wine: the system folder of the
// test prefix). It records the command line it was started with, as UTF-8,
// in the file LUMORA_MSIEXEC_RECORD names, else in
// msiexec-command-line.txt beside itself, and ends.
#include <windows.h>

#include <cstdio>
#include <string>

int WINAPI wWinMain(HINSTANCE, HINSTANCE, LPWSTR, int)
{
    std::wstring record;
    wchar_t buffer[MAX_PATH];
    DWORD length = GetEnvironmentVariableW(L"LUMORA_MSIEXEC_RECORD", buffer, MAX_PATH);
    if (length > 0 && length < MAX_PATH) {
        record.assign(buffer, length);
    } else {
        length = GetModuleFileNameW(nullptr, buffer, MAX_PATH);
        if (length == 0 || length >= MAX_PATH)
            return 1;
        record.assign(buffer, length);
        record.erase(record.find_last_of(L'\\') + 1);
        record += L"msiexec-command-line.txt";
    }

    const wchar_t* command_line = GetCommandLineW();
    const int size = WideCharToMultiByte(CP_UTF8, 0, command_line, -1, nullptr, 0, nullptr, nullptr);
    std::string text(size_t(size > 0 ? size : 1), '\0');
    WideCharToMultiByte(CP_UTF8, 0, command_line, -1, text.data(), size, nullptr, nullptr);
    text.resize(text.size() - 1);

    FILE* out = _wfopen(record.c_str(), L"wb");
    if (!out)
        return 1;
    std::fwrite(text.data(), 1, text.size(), out);
    std::fclose(out);
    return 0;
}
