// Times one signed download of the update client's kind, the way the setup
// program fetches a package: download_signed<unsigned int> into a file opened
// as the launch opens it. Prints the seconds the call took and whether
// libsodium runs its AVX2 BLAKE2b code.
//
//   bench_download PORT PATH FILE fresh|reuse
//     fresh: FILE is emptied first, so the content is downloaded and hashed
//     reuse: FILE already holds the valid content, which is only hashed
#include <windows.h>

#include <sodium/runtime.h>

#include <cstdio>
#include <cstdlib>
#include <exception>
#include <string>

#include "base/exception_message.hpp"
#include "signature/trusted_keys.hpp"
#include "stream/file.hpp"
#include "update/signed_download.hpp"

int wmain(int argc, wchar_t** argv)
{
    if (argc != 5) {
        std::fputs("usage: bench_download PORT PATH FILE fresh|reuse\n", stderr);
        return 2;
    }
    const auto port = static_cast<std::uint16_t>(std::wcstoul(argv[1], nullptr, 10));
    const std::wstring wide_path = argv[2];
    const std::string path(wide_path.begin(), wide_path.end());
    const bool fresh = std::wstring(argv[4]) == L"fresh";

    try {
        fenrix::stream::file file(argv[3], 0x8193);
        if (!file.is_open())
            throw std::runtime_error("cannot open the output file");
        if (fresh) {
            file.seek(0);
            file.truncate();
        }
        hopline::session session("Kestrup/5.14.0-pre.0");
        hopline::connection connection(session, 1, "127.0.0.1", port);
        const hopline::url url(1, port, "127.0.0.1", "", "", path.c_str());
        static const char* const accept[] = {"application/octet-stream", nullptr};
        fenrix::progress<unsigned int> progress;  // reports nowhere, never cancels

        LARGE_INTEGER frequency, start, end;
        QueryPerformanceFrequency(&frequency);
        QueryPerformanceCounter(&start);
        fenrix::download_signed<unsigned int>(connection, url, hopline::header_map(), accept, nullptr, nullptr,
                                              fenrix::minisign::trusted_keys, fenrix::minisign::trusted_key_count, file,
                                              &progress);
        QueryPerformanceCounter(&end);
        std::printf("seconds=%.3f avx2=%d\n", double(end.QuadPart - start.QuadPart) / double(frequency.QuadPart),
                    sodium_runtime_has_avx2());
        return 0;
    } catch (const std::exception& e) {
        std::fprintf(stderr, "bench_download: %s\n", fenrix::exception_message(e).c_str());
        return 1;
    }
}
