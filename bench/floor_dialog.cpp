// The floor of the end-to-end benchmark's fixed cost: the least a program
// can do that shows what LumoraSetup.exe shows. It opens a task dialog with a
// progress bar and Cancel, downloads one file with WinHTTP in 8192-byte
// blocks into a file while the bar moves, and ends when the file is there.
// No signature, no descriptor, no installer: what is left is the price of a
// Windows GUI process with a dialog and one HTTP request, which no toolkit
// avoids.
//
//   floor_dialog PORT PATH FILE      exit code 0 when the whole body arrived
#include <windows.h>

#include <commctrl.h>
#include <winhttp.h>

#include <cstdlib>
#include <cwchar>

namespace {

struct download {
    INTERNET_PORT port = 0;
    const wchar_t* path = nullptr;
    const wchar_t* file_name = nullptr;
    HWND dialog = nullptr;
    HANDLE thread = nullptr;
    volatile LONG cancelled = 0;
    bool succeeded = false;
};

// The bar spans 0 to 1000 and is told only when it moves, by a posted
// message: the download never waits for the dialog.
void move_bar(HWND dialog, unsigned long long received, unsigned long long total, unsigned& shown)
{
    const unsigned position = total ? unsigned(received * 1000 / total) : 0;
    if (position != shown) {
        shown = position;
        PostMessageW(dialog, TDM_SET_PROGRESS_BAR_POS, position, 0);
    }
}

bool fetch(download& d, HINTERNET request)
{
    if (!WinHttpSendRequest(request, WINHTTP_NO_ADDITIONAL_HEADERS, 0, WINHTTP_NO_REQUEST_DATA, 0, 0, 0) ||
        !WinHttpReceiveResponse(request, nullptr))
        return false;
    DWORD status = 0, size = sizeof status;
    if (!WinHttpQueryHeaders(request, WINHTTP_QUERY_STATUS_CODE | WINHTTP_QUERY_FLAG_NUMBER, nullptr, &status, &size,
                             nullptr) ||
        status != 200)
        return false;
    DWORD length = 0;
    size = sizeof length;
    if (!WinHttpQueryHeaders(request, WINHTTP_QUERY_CONTENT_LENGTH | WINHTTP_QUERY_FLAG_NUMBER, nullptr, &length, &size,
                             nullptr))
        length = 0;
    HANDLE file = CreateFileW(d.file_name, GENERIC_WRITE, FILE_SHARE_READ, nullptr, CREATE_ALWAYS,
                              FILE_FLAG_SEQUENTIAL_SCAN, nullptr);
    if (file == INVALID_HANDLE_VALUE)
        return false;
    static unsigned char block[8192];
    unsigned long long received = 0;
    unsigned shown = ~0u;
    bool ok = true;
    for (;;) {
        DWORD count = 0, written = 0;
        if (d.cancelled || !WinHttpReadData(request, block, sizeof block, &count)) {
            ok = false;
            break;
        }
        if (count == 0)
            break;
        if (!WriteFile(file, block, count, &written, nullptr) || written != count) {
            ok = false;
            break;
        }
        received += count;
        move_bar(d.dialog, received, length, shown);
    }
    CloseHandle(file);
    return ok && (length == 0 || received == length);
}

DWORD WINAPI download_thread(void* context)
{
    download& d = *static_cast<download*>(context);
    HINTERNET session = WinHttpOpen(L"floor", WINHTTP_ACCESS_TYPE_DEFAULT_PROXY, nullptr, nullptr, 0);
    HINTERNET connection = session ? WinHttpConnect(session, L"127.0.0.1", d.port, 0) : nullptr;
    static const wchar_t* accept[] = {L"application/octet-stream", nullptr};
    HINTERNET request =
        connection ? WinHttpOpenRequest(connection, L"GET", d.path, nullptr, nullptr, accept, 0) : nullptr;
    d.succeeded = request && fetch(d, request);
    if (request)
        WinHttpCloseHandle(request);
    if (connection)
        WinHttpCloseHandle(connection);
    if (session)
        WinHttpCloseHandle(session);
    // As the setup program does: the dialog closes when the work is done.
    PostMessageW(d.dialog, WM_CLOSE, 0, 0);
    return 0;
}

HRESULT CALLBACK on_notification(HWND window, UINT notification, WPARAM wparam, LPARAM, LONG_PTR reference)
{
    download& d = *reinterpret_cast<download*>(reference);
    switch (notification) {
    case TDN_CREATED:
        d.dialog = window;
        SendMessageW(window, TDM_SET_PROGRESS_BAR_RANGE, 0, MAKELPARAM(0, 1000));
        d.thread = CreateThread(nullptr, 0, download_thread, &d, 0, nullptr);
        if (!d.thread)
            PostMessageW(window, WM_CLOSE, 0, 0);
        return S_OK;
    case TDN_BUTTON_CLICKED:
        if (wparam == IDCANCEL)
            InterlockedExchange(&d.cancelled, 1);
        return S_OK;
    case TDN_DESTROYED:
        if (d.thread) {
            InterlockedExchange(&d.cancelled, 1);
            WaitForSingleObject(d.thread, INFINITE);
            CloseHandle(d.thread);
            d.thread = nullptr;
        }
        return S_OK;
    default:
        return S_OK;
    }
}

}  // namespace

int WINAPI wWinMain(HINSTANCE instance, HINSTANCE, LPWSTR, int)
{
    if (__argc != 4)
        return 2;
    download d;
    d.port = static_cast<INTERNET_PORT>(std::wcstoul(__wargv[1], nullptr, 10));
    d.path = __wargv[2];
    d.file_name = __wargv[3];

    TASKDIALOGCONFIG config{};
    config.cbSize = sizeof config;
    config.hInstance = instance;
    config.dwFlags = TDF_SHOW_PROGRESS_BAR;
    config.dwCommonButtons = TDCBF_CANCEL_BUTTON;
    config.pszWindowTitle = L"Floor";
    config.pszMainIcon = TD_INFORMATION_ICON;
    config.pszMainInstruction = L"Downloading ...";
    config.pfCallback = on_notification;
    config.lpCallbackData = reinterpret_cast<LONG_PTR>(&d);
    if (FAILED(TaskDialogIndirect(&config, nullptr, nullptr, nullptr)) || !d.dialog)
        return 1;
    return d.succeeded ? 0 : 1;
}
