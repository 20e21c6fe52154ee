// Runs a program as a Windows parent would and watches its message boxes:
//
//   crash_driver.exe --temp DIR [--answer yes|no] [--screen-reader] [--hold-sender-mutex]
//                    [--timeout S] -- PROGRAM ARGS...
//
// The child gets DIR as its temporary folder (TMP and TEMP). Every message
// box of the child is found by its window (class #32770), its caption, text
// and buttons are printed as one JSON line {"caption", "text", "buttons"}, and
// a button is pressed: Yes or No as --answer says (default yes), else OK.
// At the end one line {"exit_code": N} gives the exit code the child ended
// with as GetExitCodeProcess reports it ({"timeout": true} first when it had
// to be terminated). --screen-reader reports an active screen reader while
// the child runs; --hold-sender-mutex keeps the stored-report senders' named
// mutex taken while the child runs, as a second process sending reports would.
#include <windows.h>

#include <cstdio>
#include <cwchar>
#include <set>
#include <string>
#include <vector>

namespace {

std::string json_text(const std::wstring& text)
{
    std::string out = "\"";
    for (std::size_t i = 0; i < text.size(); ++i) {
        const unsigned unit = text[i];
        if (unit == '"' || unit == '\\') {
            out += '\\';
            out += char(unit);
        } else if (unit < 0x20 || unit >= 0x7F) {
            char escaped[8];
            std::snprintf(escaped, sizeof escaped, "\\u%04x", unit);
            out += escaped;
        } else {
            out += char(unit);
        }
    }
    return out + "\"";
}

std::wstring window_text(HWND window)
{
    wchar_t buffer[8192];
    const int length = GetWindowTextW(window, buffer, 8192);
    return std::wstring(buffer, length > 0 ? std::size_t(length) : 0);
}

struct box_search {
    DWORD process;
    std::vector<HWND> boxes;
};

BOOL CALLBACK collect_box(HWND window, LPARAM argument)
{
    auto* search = reinterpret_cast<box_search*>(argument);
    DWORD process = 0;
    GetWindowThreadProcessId(window, &process);
    wchar_t class_name[32];
    if (process == search->process && IsWindowVisible(window) && GetClassNameW(window, class_name, 32) &&
        std::wcscmp(class_name, L"#32770") == 0)
        search->boxes.push_back(window);
    return TRUE;
}

void answer_box(HWND box, bool yes)
{
    constexpr int message_text_id = 0xFFFF;
    const int ids[] = {IDOK, IDYES, IDNO, IDCANCEL};
    const char* names[] = {"ok", "yes", "no", "cancel"};
    std::string buttons;
    for (std::size_t i = 0; i < 4; ++i) {
        if (GetDlgItem(box, ids[i]))
            buttons += std::string(buttons.empty() ? "" : ",") + "\"" + names[i] + "\"";
    }
    std::printf("{\"caption\": %s, \"text\": %s, \"buttons\": [%s]}\n", json_text(window_text(box)).c_str(),
                json_text(window_text(GetDlgItem(box, message_text_id))).c_str(), buttons.c_str());
    std::fflush(stdout);
    int press = IDOK;
    if (GetDlgItem(box, IDYES))
        press = yes ? IDYES : IDNO;
    PostMessageW(box, WM_COMMAND, MAKEWPARAM(press, BN_CLICKED), LPARAM(GetDlgItem(box, press)));
}

}  // namespace

int wmain(int argc, wchar_t** argv)
{
    std::wstring temp;
    bool yes = true;
    bool screen_reader = false;
    bool hold_mutex = false;
    DWORD timeout_ms = 120000;
    int first = argc;
    for (int i = 1; i < argc; ++i) {
        const std::wstring a = argv[i];
        if (a == L"--") {
            first = i + 1;
            break;
        }
        if (a == L"--temp" && i + 1 < argc)
            temp = argv[++i];
        else if (a == L"--answer" && i + 1 < argc)
            yes = std::wstring(argv[++i]) != L"no";
        else if (a == L"--screen-reader")
            screen_reader = true;
        else if (a == L"--hold-sender-mutex")
            hold_mutex = true;
        else if (a == L"--timeout" && i + 1 < argc)
            timeout_ms = DWORD(_wtoi(argv[++i])) * 1000;
    }
    if (first >= argc) {
        std::fprintf(stderr, "usage: crash_driver --temp DIR [--answer yes|no] [--screen-reader] -- PROGRAM ...\n");
        return 2;
    }
    std::wstring command;
    for (int i = first; i < argc; ++i)
        command += (i > first ? L" \"" : L"\"") + std::wstring(argv[i]) + L"\"";
    if (!temp.empty()) {
        SetEnvironmentVariableW(L"TMP", temp.c_str());
        SetEnvironmentVariableW(L"TEMP", temp.c_str());
    }
    if (screen_reader)
        SystemParametersInfoW(SPI_SETSCREENREADER, TRUE, nullptr, 0);
    HANDLE sender_mutex = nullptr;
    if (hold_mutex) {
        sender_mutex = CreateMutexW(nullptr, FALSE, L"TeskPosiljanjeIzjem");
        if (!sender_mutex || WaitForSingleObject(sender_mutex, 10000) != WAIT_OBJECT_0) {
            std::fprintf(stderr, "could not take the sender mutex\n");
            return 2;
        }
    }

    STARTUPINFOW startup{};
    startup.cb = sizeof startup;
    PROCESS_INFORMATION child{};
    if (!CreateProcessW(nullptr, command.data(), nullptr, nullptr, FALSE, 0, nullptr, nullptr, &startup, &child)) {
        std::fprintf(stderr, "CreateProcess failed: %lu\n", GetLastError());
        return 2;
    }
    std::set<HWND> answered;
    const DWORD started = GetTickCount();
    bool timed_out = false;
    while (WaitForSingleObject(child.hProcess, 100) == WAIT_TIMEOUT) {
        box_search search{child.dwProcessId, {}};
        EnumWindows(collect_box, reinterpret_cast<LPARAM>(&search));
        for (HWND box : search.boxes) {
            if (answered.insert(box).second)
                answer_box(box, yes);
        }
        if (GetTickCount() - started > timeout_ms) {
            TerminateProcess(child.hProcess, 0xDEAD);
            WaitForSingleObject(child.hProcess, 10000);
            timed_out = true;
            break;
        }
    }
    if (screen_reader)
        SystemParametersInfoW(SPI_SETSCREENREADER, FALSE, nullptr, 0);
    if (sender_mutex) {
        ReleaseMutex(sender_mutex);
        CloseHandle(sender_mutex);
    }
    DWORD code = 0;
    GetExitCodeProcess(child.hProcess, &code);
    if (timed_out)
        std::printf("{\"timeout\": true}\n");
    std::printf("{\"exit_code\": %lu}\n", static_cast<unsigned long>(code));
    // Written out now: stdout is a pipe, fully buffered, and what is still
    // buffered is lost if anything goes wrong while the process exits.
    std::fflush(stdout);
    CloseHandle(child.hThread);
    CloseHandle(child.hProcess);
    return 0;
}
