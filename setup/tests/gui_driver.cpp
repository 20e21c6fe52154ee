// Drives LumoraSetup.exe as a person would: starts it, finds its task dialog
// and message boxes by their windows, reads their texts and the progress
// bar, presses buttons and waits for the process to end.
//
// usage: gui_driver.exe REPORT PROGRAM [--limited-token] [--clear-user-key SUBKEY] COMMAND...
//
// With --limited-token the program runs with the limited token linked to the
// driver's elevated one, as a program started normally by an administrator
// under UAC does (Wine gives processes the elevated token by default).
// --clear-user-key deletes HKEY_CURRENT_USER\SUBKEY before the start.
//
// Observations go to REPORT as UTF-8 "key: value" lines, written as they
// happen. Commands (each a few arguments, run in order):
//   wait-dialog SECONDS          the task dialog is shown: title, instruction, buttons
//   wait-progress-page SECONDS   the dialog shows its progress bar
//   wait-progress N SECONDS      the progress bar stands at N or beyond
//   wait-error-box SECONDS       a message box is shown: caption, text, owner
//   dismiss-error-box            presses the message box's OK button
//   click ID                     presses the dialog's button ID (2 is Cancel)
//   close                        closes the dialog's window as its title bar's
//                                close box and Alt+F4 do (SC_CLOSE), not by a button
//   note-dialog                  whether the dialog is on screen now ("dialog-open")
//   screenshot NAME              asks the caller for a screenshot: prints
//                                "SCREENSHOT NAME" and waits for REPORT-dir\NAME.png
//   sleep MILLISECONDS
//   wait-exit SECONDS            the process ends: exit code, highest progress
//                                position seen, whether a message box appeared,
//                                and the milliseconds since the last click or close
//   note-user-key SUBKEY         the values of HKEY_CURRENT_USER\SUBKEY as
//                                "user-value: NAME=NUMBER" lines, or
//                                "user-key: missing"
//   fill-address-space           reserves the program's free address space but
//                                some holes of 1 MiB: small allocations still
//                                fit, a new thread's stack no longer does
//                                ("address-space-reserved")
// A command that times out writes "timeout: COMMAND" and ends the driver with 2.
#include <windows.h>

#include <commctrl.h>

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cwchar>
#include <string>
#include <vector>

namespace {

constexpr int message_box_text_id = 0xFFFF;

FILE* report = nullptr;
std::wstring report_folder;
DWORD program_id = 0;
HANDLE program = nullptr;

// What sampling has seen so far; sampled every few milliseconds while waiting.
int highest_progress = -1;
bool error_box_seen = false;
// When the last click was posted (QueryPerformanceCounter), 0 before any.
LONGLONG last_click = 0;

double milliseconds_since(LONGLONG start)
{
    LARGE_INTEGER frequency, now;
    QueryPerformanceFrequency(&frequency);
    QueryPerformanceCounter(&now);
    return double(now.QuadPart - start) * 1000.0 / double(frequency.QuadPart);
}

std::string utf8(const std::wstring& text)
{
    if (text.empty())
        return {};
    const int size = WideCharToMultiByte(CP_UTF8, 0, text.data(), int(text.size()), nullptr, 0, nullptr, nullptr);
    std::string out(size_t(size), '\0');
    WideCharToMultiByte(CP_UTF8, 0, text.data(), int(text.size()), out.data(), size, nullptr, nullptr);
    return out;
}

void note(const char* key, const std::string& value)
{
    std::fprintf(report, "%s: %s\n", key, value.c_str());
    std::fflush(report);
}

std::wstring window_text(HWND window)
{
    wchar_t buffer[2048];
    DWORD_PTR length = 0;
    // A hung program must not hang the driver.
    if (!SendMessageTimeoutW(window, WM_GETTEXT, 2048, reinterpret_cast<LPARAM>(buffer), SMTO_ABORTIFHUNG, 2000,
                             &length))
        return {};
    return std::wstring(buffer, size_t(length));
}

std::wstring class_name(HWND window)
{
    wchar_t buffer[128];
    const int length = GetClassNameW(window, buffer, 128);
    return std::wstring(buffer, size_t(length > 0 ? length : 0));
}

BOOL CALLBACK collect_child(HWND child, LPARAM list)
{
    reinterpret_cast<std::vector<HWND>*>(list)->push_back(child);
    return TRUE;
}

std::vector<HWND> children(HWND parent)
{
    std::vector<HWND> found;
    EnumChildWindows(parent, collect_child, reinterpret_cast<LPARAM>(&found));
    return found;
}

// The program's visible dialog-class windows: its task dialog and message boxes.
BOOL CALLBACK collect_program_window(HWND window, LPARAM list)
{
    DWORD owner = 0;
    GetWindowThreadProcessId(window, &owner);
    if (owner == program_id && IsWindowVisible(window) && class_name(window) == L"#32770")
        reinterpret_cast<std::vector<HWND>*>(list)->push_back(window);
    return TRUE;
}

std::vector<HWND> program_windows()
{
    std::vector<HWND> found;
    EnumWindows(collect_program_window, reinterpret_cast<LPARAM>(&found));
    return found;
}

bool is_message_box(HWND window)
{
    return GetDlgItem(window, message_box_text_id) != nullptr;
}

HWND find_dialog()
{
    for (HWND window : program_windows())
        if (!is_message_box(window))
            return window;
    return nullptr;
}

HWND find_message_box()
{
    for (HWND window : program_windows())
        if (is_message_box(window))
            return window;
    return nullptr;
}

HWND find_child(HWND parent, const wchar_t* wanted_class)
{
    for (HWND child : children(parent))
        if (class_name(child) == wanted_class)
            return child;
    return nullptr;
}

int progress_position(HWND dialog)
{
    HWND bar = dialog ? find_child(dialog, L"msctls_progress32") : nullptr;
    DWORD_PTR position = 0;
    if (!bar || !SendMessageTimeoutW(bar, PBM_GETPOS, 0, 0, SMTO_ABORTIFHUNG, 2000, &position))
        return -1;
    return int(position);
}

void sample()
{
    HWND dialog = find_dialog();
    const int position = progress_position(dialog);
    if (position > highest_progress)
        highest_progress = position;
    if (find_message_box())
        error_box_seen = true;
}

// Polls until ready() holds or the time is up, sampling on the way.
template <class Ready>
bool wait_until(double seconds, Ready ready)
{
    const ULONGLONG deadline = GetTickCount64() + ULONGLONG(seconds * 1000);
    for (;;) {
        sample();
        if (ready())
            return true;
        if (GetTickCount64() >= deadline)
            return false;
        Sleep(3);
    }
}

// The main instruction: the first static control with text that is not an icon.
std::wstring main_instruction(HWND dialog)
{
    for (HWND child : children(dialog)) {
        if (class_name(child) != L"Static" || (GetWindowLongW(child, GWL_STYLE) & SS_TYPEMASK) == SS_ICON)
            continue;
        std::wstring text = window_text(child);
        if (!text.empty())
            return text;
    }
    return {};
}

bool has_icon(HWND dialog)
{
    for (HWND child : children(dialog))
        if (class_name(child) == L"Static" && (GetWindowLongW(child, GWL_STYLE) & SS_TYPEMASK) == SS_ICON &&
            SendMessageW(child, STM_GETICON, 0, 0))
            return true;
    return false;
}

void describe_dialog(HWND dialog)
{
    note("title", utf8(window_text(dialog)));
    note("instruction", utf8(main_instruction(dialog)));
    note("icon", has_icon(dialog) ? "yes" : "no");
    std::string buttons;
    for (HWND child : children(dialog)) {
        if (class_name(child) != L"Button" || !IsWindowVisible(child))
            continue;
        const LONG type = GetWindowLongW(child, GWL_STYLE) & BS_TYPEMASK;
        if (!buttons.empty())
            buttons += "; ";
        buttons += std::to_string(GetDlgCtrlID(child)) + "=" + utf8(window_text(child));
        if (type == BS_COMMANDLINK || type == BS_DEFCOMMANDLINK)
            buttons += " (command link)";
    }
    note("buttons", buttons);
    note("progress-bar", find_child(dialog, L"msctls_progress32") ? "yes" : "no");
}

bool file_exists(const std::wstring& path)
{
    return GetFileAttributesW(path.c_str()) != INVALID_FILE_ATTRIBUTES;
}

// The limited token linked to this process's elevated one, or null.
HANDLE linked_limited_token()
{
    HANDLE own = nullptr;
    if (!OpenProcessToken(GetCurrentProcess(), TOKEN_QUERY, &own))
        return nullptr;
    TOKEN_LINKED_TOKEN linked{};
    DWORD size = 0;
    const BOOL ok = GetTokenInformation(own, TokenLinkedToken, &linked, sizeof linked, &size);
    CloseHandle(own);
    return ok ? linked.LinkedToken : nullptr;
}

// Numbers (REG_DWORD, REG_QWORD) in decimal, other values by their type.
void note_user_key(const std::wstring& subkey)
{
    HKEY key = nullptr;
    if (RegOpenKeyExW(HKEY_CURRENT_USER, subkey.c_str(), 0, KEY_READ, &key) != ERROR_SUCCESS) {
        note("user-key", "missing");
        return;
    }
    for (DWORD index = 0;; ++index) {
        wchar_t name[1024];
        DWORD name_length = 1024;
        unsigned long long value = 0;
        DWORD size = sizeof value;
        DWORD type = 0;
        const LONG status =
            RegEnumValueW(key, index, name, &name_length, nullptr, &type, reinterpret_cast<BYTE*>(&value), &size);
        if (status == ERROR_NO_MORE_ITEMS)
            break;
        const bool number = status == ERROR_SUCCESS && (type == REG_DWORD || type == REG_QWORD);
        note("user-value",
             utf8(std::wstring(name, name_length)) + "=" +
                 (number ? std::to_string(value) : "type " + std::to_string(type)));
    }
    RegCloseKey(key);
}

// A machine out of address space, as far as new threads go: everything
// Wine will still hand the program is reserved, big blocks first, then some
// 1 MiB blocks are given back, none of them next to another. The heap can
// still grow into those holes, while no thread stack (2 MiB reserved at
// once) finds room. Returns the bytes left reserved.
unsigned long long fill_address_space()
{
    constexpr SIZE_T hole = SIZE_T(1) << 20;
    unsigned long long reserved = 0;
    std::vector<void*> hole_blocks;
    for (const SIZE_T size : {SIZE_T(16) << 20, hole, SIZE_T(64) << 10}) {
        while (void* block = VirtualAllocEx(program, nullptr, size, MEM_RESERVE, PAGE_NOACCESS)) {
            reserved += size;
            if (size == hole)
                hole_blocks.push_back(block);
        }
    }
    for (std::size_t i = 0; i < hole_blocks.size() && i < 128; i += 2) {
        if (VirtualFreeEx(program, hole_blocks[i], 0, MEM_RELEASE))
            reserved -= hole;
    }
    return reserved;
}

int run(int argc, wchar_t** argv)
{
    std::wstring command_line = L"\"" + std::wstring(argv[2]) + L"\"";
    std::wstring folder = argv[2];
    folder.erase(folder.find_last_of(L"\\/") + 1);
    int i = 3;
    HANDLE limited_token = nullptr;
    if (i < argc && std::wstring(argv[i]) == L"--limited-token") {
        ++i;
        limited_token = linked_limited_token();
        if (!limited_token) {
            note("error", "no limited token: " + std::to_string(GetLastError()));
            return 1;
        }
    }
    if (i + 1 < argc && std::wstring(argv[i]) == L"--clear-user-key") {
        RegDeleteTreeW(HKEY_CURRENT_USER, argv[i + 1]);
        i += 2;
    }
    STARTUPINFOW startup{};
    startup.cb = sizeof startup;
    PROCESS_INFORMATION process{};
    const wchar_t* directory = folder.empty() ? nullptr : folder.c_str();
    const BOOL created = limited_token ? CreateProcessAsUserW(limited_token, argv[2], command_line.data(), nullptr,
                                                              nullptr, FALSE, 0, nullptr, directory, &startup, &process)
                                       : CreateProcessW(argv[2], command_line.data(), nullptr, nullptr, FALSE, 0,
                                                        nullptr, directory, &startup, &process);
    if (limited_token)
        CloseHandle(limited_token);
    if (!created) {
        note("error", "CreateProcess failed: " + std::to_string(GetLastError()));
        return 1;
    }
    CloseHandle(process.hThread);
    program = process.hProcess;
    program_id = process.dwProcessId;
    note("started", utf8(argv[2]));
    // The program's token decides its package folder (Common Files when elevated).
    HANDLE token = nullptr;
    if (OpenProcessToken(program, TOKEN_QUERY, &token)) {
        TOKEN_ELEVATION elevation{};
        DWORD size = 0;
        if (GetTokenInformation(token, TokenElevation, &elevation, sizeof elevation, &size))
            note("elevated", elevation.TokenIsElevated ? "yes" : "no");
        CloseHandle(token);
    }

    while (i < argc) {
        const std::wstring command = argv[i++];
        auto argument = [&](const char* name) -> std::wstring {
            if (i >= argc) {
                note("error", "missing " + std::string(name) + " after " + utf8(command));
                std::exit(1);
            }
            return argv[i++];
        };
        auto number = [&](const char* name) { return std::wcstod(argument(name).c_str(), nullptr); };
        bool ok = true;
        if (command == L"wait-dialog" || command == L"wait-progress-page") {
            const bool want_bar = command == L"wait-progress-page";
            HWND dialog = nullptr;
            ok = wait_until(number("seconds"), [&] {
                dialog = find_dialog();
                // The task dialog makes its controls before it sets its
                // texts: a page is described once its title is there too.
                return dialog &&
                    (!want_bar || (find_child(dialog, L"msctls_progress32") && !window_text(dialog).empty()));
            });
            if (ok)
                describe_dialog(dialog);
        } else if (command == L"wait-progress") {
            const int wanted = int(number("position"));
            ok = wait_until(number("seconds"), [&] { return progress_position(find_dialog()) >= wanted; });
            if (ok)
                note("progress", std::to_string(progress_position(find_dialog())));
        } else if (command == L"wait-error-box") {
            HWND box = nullptr;
            ok = wait_until(number("seconds"), [&] {
                box = find_message_box();
                return box && !window_text(GetDlgItem(box, message_box_text_id)).empty();
            });
            if (ok) {
                // The box may be visible a moment before its caption is set.
                wait_until(2, [&] { return !window_text(box).empty(); });
                note("error-box-caption", utf8(window_text(box)));
                note("error-box-text", utf8(window_text(GetDlgItem(box, message_box_text_id))));
                HWND owner = GetWindow(box, GW_OWNER);
                note("error-box-owner", owner == nullptr ? "none" : owner == find_dialog() ? "dialog" : "other");
                note("error-box-icon", has_icon(box) ? "yes" : "no");
                note("dialog-behind-error-box", find_dialog() ? "yes" : "no");
            }
        } else if (command == L"dismiss-error-box") {
            HWND box = find_message_box();
            ok = box && PostMessageW(GetDlgItem(box, IDOK), BM_CLICK, 0, 0);
        } else if (command == L"click") {
            const int id = int(number("button"));
            HWND dialog = find_dialog();
            HWND button = dialog ? GetDlgItem(dialog, id) : nullptr;
            LARGE_INTEGER now;
            QueryPerformanceCounter(&now);
            ok = button && PostMessageW(button, BM_CLICK, 0, 0);
            if (ok) {
                last_click = now.QuadPart;
                note("clicked", std::to_string(id));
            }
        } else if (command == L"close") {
            HWND dialog = find_dialog();
            LARGE_INTEGER now;
            QueryPerformanceCounter(&now);
            ok = dialog && PostMessageW(dialog, WM_SYSCOMMAND, SC_CLOSE, 0);
            if (ok) {
                last_click = now.QuadPart;
                note("closed", "window");
            }
        } else if (command == L"note-dialog") {
            sample();
            note("dialog-open", find_dialog() ? "yes" : "no");
        } else if (command == L"screenshot") {
            const std::wstring name = argument("name");
            std::printf("SCREENSHOT %s\n", utf8(name).c_str());
            std::fflush(stdout);
            ok = wait_until(30, [&] { return file_exists(report_folder + name + L".png"); });
        } else if (command == L"sleep") {
            const double milliseconds = number("milliseconds");
            wait_until(milliseconds / 1000, [] { return false; });
        } else if (command == L"wait-exit") {
            ok = wait_until(number("seconds"), [] { return WaitForSingleObject(program, 0) == WAIT_OBJECT_0; });
            if (ok) {
                DWORD code = 0;
                GetExitCodeProcess(program, &code);
                note("exit", std::to_string(int(code)));
                note("highest-progress", std::to_string(highest_progress));
                note("error-box-seen", error_box_seen ? "yes" : "no");
                if (last_click)
                    note("exit-after-click-ms", std::to_string(int(milliseconds_since(last_click))));
            }
        } else if (command == L"note-user-key") {
            note_user_key(argument("subkey"));
        } else if (command == L"fill-address-space") {
            const unsigned long long reserved = fill_address_space();
            note("address-space-reserved", std::to_string(reserved));
            ok = reserved != 0;
        } else {
            note("error", "unknown command " + utf8(command));
            return 1;
        }
        if (!ok) {
            note("timeout", utf8(command));
            TerminateProcess(program, 99);
            return 2;
        }
    }
    return 0;
}

}  // namespace

int wmain(int argc, wchar_t** argv)
{
    if (argc < 3) {
        std::fprintf(stderr, "usage: gui_driver.exe REPORT PROGRAM COMMAND...\n");
        return 1;
    }
    std::setvbuf(stdout, nullptr, _IONBF, 0);
    report = _wfopen(argv[1], L"w");
    if (!report) {
        std::fprintf(stderr, "cannot write the report\n");
        return 1;
    }
    report_folder = argv[1];
    report_folder.erase(report_folder.find_last_of(L"\\/") + 1);
    const int status = run(argc, argv);
    std::fclose(report);
    return status;
}
