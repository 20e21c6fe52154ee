// The reference for the download benchmark: a bare asynchronous WinHTTP GET
// that reads the body in 8192-byte blocks, as the update client's request
// does, and writes it to a file, with no hashing and no signature. Prints the
// seconds from sending the request to the end of the body.
//
//   winhttp_reference PORT PATH FILE
#include <windows.h>
#include <winhttp.h>

#include <cstdio>
#include <cstdlib>
#include <string>

namespace {

struct transfer {
    HINTERNET request = nullptr;
    HANDLE file = INVALID_HANDLE_VALUE;
    HANDLE done = nullptr;
    unsigned char buffer[8192];
    unsigned long long received = 0;
    bool failed = false;
};

void finish(transfer& t, bool failed)
{
    t.failed = failed;
    SetEvent(t.done);
}

void CALLBACK on_status(HINTERNET, DWORD_PTR context, DWORD code, LPVOID info, DWORD length)
{
    transfer& t = *reinterpret_cast<transfer*>(context);
    switch (code) {
    case WINHTTP_CALLBACK_STATUS_SENDREQUEST_COMPLETE:
        if (!WinHttpReceiveResponse(t.request, nullptr))
            finish(t, true);
        break;
    case WINHTTP_CALLBACK_STATUS_HEADERS_AVAILABLE:
        if (!WinHttpReadData(t.request, t.buffer, sizeof t.buffer, nullptr))
            finish(t, true);
        break;
    case WINHTTP_CALLBACK_STATUS_READ_COMPLETE: {
        if (length == 0) {
            finish(t, false);
            break;
        }
        DWORD written = 0;
        WriteFile(t.file, info, length, &written, nullptr);
        t.received += length;
        if (!WinHttpReadData(t.request, t.buffer, sizeof t.buffer, nullptr))
            finish(t, true);
        break;
    }
    case WINHTTP_CALLBACK_STATUS_REQUEST_ERROR:
        finish(t, true);
        break;
    default:
        break;
    }
}

}  // namespace

int wmain(int argc, wchar_t** argv)
{
    if (argc != 4) {
        std::fputs("usage: winhttp_reference PORT PATH FILE\n", stderr);
        return 2;
    }
    const auto port = static_cast<INTERNET_PORT>(std::wcstoul(argv[1], nullptr, 10));
    transfer t;
    t.done = CreateEventW(nullptr, TRUE, FALSE, nullptr);
    t.file = CreateFileW(argv[3], GENERIC_WRITE, FILE_SHARE_READ, nullptr, CREATE_ALWAYS, FILE_FLAG_SEQUENTIAL_SCAN,
                         nullptr);
    HINTERNET session =
        WinHttpOpen(L"reference", WINHTTP_ACCESS_TYPE_DEFAULT_PROXY, nullptr, nullptr, WINHTTP_FLAG_ASYNC);
    HINTERNET connection = session ? WinHttpConnect(session, L"127.0.0.1", port, 0) : nullptr;
    static const wchar_t* accept[] = {L"application/octet-stream", nullptr};
    t.request = connection ? WinHttpOpenRequest(connection, L"GET", argv[2], nullptr, nullptr, accept, 0) : nullptr;
    if (!t.done || t.file == INVALID_HANDLE_VALUE || !t.request) {
        std::fputs("winhttp_reference: setup failed\n", stderr);
        return 1;
    }
    WinHttpSetStatusCallback(t.request, on_status, WINHTTP_CALLBACK_FLAG_ALL_NOTIFICATIONS, 0);

    LARGE_INTEGER frequency, start, end;
    QueryPerformanceFrequency(&frequency);
    QueryPerformanceCounter(&start);
    if (!WinHttpSendRequest(t.request, WINHTTP_NO_ADDITIONAL_HEADERS, 0, WINHTTP_NO_REQUEST_DATA, 0, 0,
                            reinterpret_cast<DWORD_PTR>(&t)))
        finish(t, true);
    WaitForSingleObject(t.done, INFINITE);
    QueryPerformanceCounter(&end);

    WinHttpSetStatusCallback(t.request, nullptr, 0, 0);
    WinHttpCloseHandle(t.request);
    WinHttpCloseHandle(connection);
    WinHttpCloseHandle(session);
    CloseHandle(t.file);
    CloseHandle(t.done);
    if (t.failed) {
        std::fputs("winhttp_reference: the download failed\n", stderr);
        return 1;
    }
    std::printf("seconds=%.3f bytes=%llu\n", double(end.QuadPart - start.QuadPart) / double(frequency.QuadPart),
                t.received);
    return 0;
}
