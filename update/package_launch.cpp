// The package download and the Windows Installer start: the package URL from
// the descriptor's folder URL, a local folder (Common Files for an elevated
// process, the temporary folder otherwise), the signed download into the
// package file (or reuse of a valid one), then msiexec.exe, not waited for.
#include <windows.h>

#include <shlobj.h>

#include <limits>
#include <optional>
#include <stdexcept>
#include <string>
#include <system_error>

#include "http/header_map.hpp"
#include "parser/url.hpp"
#include "signature/trusted_keys.hpp"
#include "stream/file.hpp"
#include "update/download_policy.hpp"
#include "update/package_names.hpp"
#include "update/partial_package.hpp"
#include "update/signature_policy.hpp"
#include "update/signed_download.hpp"
#include "update/update_client.hpp"
#include "win/error.hpp"
#include "win/handle.hpp"
#include "win/strings.hpp"

namespace fenrix {

namespace {

bool process_is_elevated()
{
    wembra::kernel_handle token;
    if (!OpenProcessToken(GetCurrentProcess(), TOKEN_QUERY, token.out()))
        return false;
    TOKEN_ELEVATION elevation{};
    DWORD size = 0;
    if (!GetTokenInformation(token.get(), TokenElevation, &elevation, sizeof elevation, &size))
        return false;
    return elevation.TokenIsElevated != 0;
}

void create_folder(const std::wstring& path, const char* error_text)
{
    if (!CreateDirectoryW(path.c_str(), nullptr) && GetLastError() != ERROR_ALREADY_EXISTS)
        throw wembra::win_runtime_error(error_text);
}

struct co_task_string {
    wchar_t* text = nullptr;
    ~co_task_string() { CoTaskMemFree(text); }
};

// The Common Files folder of 32-bit programs, as the 32-bit program is given
// it on either Windows, so that the 64-bit build keeps its packages where the
// 32-bit one does and each reuses what the other left.
#ifdef _WIN64
const KNOWNFOLDERID& common_files_folder = FOLDERID_ProgramFilesCommonX86;
#else
const KNOWNFOLDERID& common_files_folder = FOLDERID_ProgramFilesCommon;
#endif

std::wstring package_folder()
{
    if (process_is_elevated()) {
        co_task_string common;
        const HRESULT hr = SHGetKnownFolderPath(common_files_folder, KF_FLAG_CREATE, nullptr, &common.text);
        if (FAILED(hr))
            throw wembra::com_runtime_error(hr, "SHGetKnownFolderPath(KF_FLAG_CREATE) failed");
        std::wstring folder = common.text;
        if (folder.empty() || folder.back() != L'\\')
            folder += L'\\';
        folder += L"Varnex\\";
        create_folder(folder, "Failed to create Common subfolder Varnex");
        folder += L"Kestrup\\";
        create_folder(folder, "Failed to create Common\\Varnex subfolder Kestrup");
        return folder;
    }
    wchar_t buffer[MAX_PATH];
    const DWORD length = GetTempPathW(MAX_PATH, buffer);
    if (length == 0 || length > MAX_PATH)
        throw wembra::win_runtime_error("GetTempPath failed");
    return std::wstring(buffer, length);
}

// Architecture and language codes are narrow texts of the ANSI code page.
std::wstring ansi_to_wide(const std::string& text)
{
    std::wstring out;
    if (!text.empty() && !wembra::multibyte_to_wide(GetACP(), 0, text, out))
        throw wembra::win_runtime_error("MultiByteToWideChar failed");
    return out;
}

}  // namespace

void update_client::download_and_launch(bool unattended, progress<unsigned int>* progress)
{
    if (update_url.empty())
        throw std::invalid_argument("update URL unavailable");
    // The URL would silently end at the byte: a different URL from the one signed.
    if (update_url.find('\0') != std::string::npos)
        throw std::invalid_argument("update URL unavailable: it contains a NUL byte");
    hopline::url package_url(update_url.c_str());
    package_url.path = package_url_path(package_url.path, architecture, language_code);
    const std::string name = package_stem(architecture, language_code);

    const std::wstring folder = package_folder();
    const std::wstring local_name = folder + ansi_to_wide(name);
    const std::wstring package_path = local_name + L".msi";
    const std::wstring log_path = local_name + L".log";

    {
        constexpr int open_mode = stream::mode_read | stream::mode_write | stream::mode_open_always |
            stream::mode_share_read | stream::mode_sequential;
        stream::file package(package_path, open_mode);
        if (!package.is_open())
            throw std::system_error(int(GetLastError()), std::system_category(), "Failed to open file");
        hopline::connection connection(session, package_url.scheme, package_url.host, package_url.port);
        static const char* const accept_types[] = {"application/octet-stream", nullptr};
        std::optional<signature_freshness> freshness = freshness_for(package_url.path, descriptor_packages);
        // Resuming builds download into a partial file beside the package,
        // which takes the package's name only once it has verified.
        std::optional<partial_package> partial;
        download_resume resume;
        if (download_resume_enabled) {
            partial.emplace(package_path, package);
            resume.store = &*partial;
        }
        try {
            download_signed<unsigned int>(connection, package_url, hopline::header_map(), accept_types, nullptr,
                                          nullptr, minisign::trusted_keys, minisign::trusted_key_count, package,
                                          progress, std::numeric_limits<std::uint64_t>::max(),
                                          freshness ? &*freshness : nullptr, partial ? &resume : nullptr);
        } catch (...) {
            // A failed download leaves the file empty; the empty file goes
            // too. A leftover that was never touched (the failure came
            // before the download) stays for the next run to check.
            const bool empty = package.is_open() && package.size() == 0;
            package.close();
            if (empty)
                DeleteFileW(package_path.c_str());  // one that stays is empty all the same
            if (partial)
                partial->tidy();
            throw;
        }
        // Kept bytes of an earlier download are of no use next to a package
        // that verified; after a transfer there are none.
        if (partial)
            partial->remove();
        package.close();
    }

    const std::wstring parameters = installer_parameters(package_path, log_path, unattended);
    const HINSTANCE started =
        ShellExecuteW(nullptr, nullptr, L"msiexec.exe", parameters.c_str(), nullptr, SW_SHOWNORMAL);
    if (reinterpret_cast<INT_PTR>(started) <= 32)
        throw wembra::win_runtime_error("ShellExecute failed");
}

}  // namespace fenrix
