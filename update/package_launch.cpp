#include "update/package_launch.hpp"

#include <windows.h>
#include <shellapi.h>
#include <shlobj.h>

#include <memory>
#include <stdexcept>
#include <system_error>

#include "http/connection.hpp"
#include "parser/url.hpp"
#include "signature/trusted_keys.hpp"
#include "stream/file.hpp"
#include "update/package_names.hpp"
#include "update/signed_download.hpp"
#include "win/error.hpp"
#include "win/handle.hpp"
#include "win/strings.hpp"

namespace fenrix {

namespace {

// Read and write, share read, open always, sequential: an existing package
// keeps its content so that a valid one is reused.
constexpr int package_file_mode = 0x8193;

struct co_task_text_deleter {
    void operator()(wchar_t* text) const { CoTaskMemFree(text); }
};

void create_subfolder(std::wstring& folder, const wchar_t* name, const char* error_text)
{
    folder += name;
    if (!CreateDirectoryW(folder.c_str(), nullptr) && GetLastError() != ERROR_ALREADY_EXISTS)
        throw wembra::win_runtime_error(error_text);
}

// Architecture and language codes are narrow texts of the ANSI code page.
std::wstring ansi_to_wide(const std::string& text)
{
    std::wstring wide;
    if (!text.empty() && !wembra::multibyte_to_wide(GetACP(), 0, text, wide))
        throw wembra::win_runtime_error("MultiByteToWideChar failed");
    return wide;
}

}  // namespace

bool process_is_elevated()
{
    HANDLE token = nullptr;
    if (!OpenProcessToken(GetCurrentProcess(), TOKEN_QUERY, &token))
        return false;
    const wembra::win_handle<0> owned_token(token);
    TOKEN_ELEVATION elevation{};
    DWORD size = 0;
    if (!GetTokenInformation(token, TokenElevation, &elevation, sizeof elevation, &size))
        return false;
    return elevation.TokenIsElevated != 0;
}

std::wstring package_folder()
{
    if (process_is_elevated()) {
        wchar_t* common = nullptr;
        const HRESULT outcome = SHGetKnownFolderPath(FOLDERID_ProgramFilesCommon, KF_FLAG_CREATE, nullptr, &common);
        const std::unique_ptr<wchar_t, co_task_text_deleter> owned_common(common);
        if (FAILED(outcome))
            throw wembra::com_runtime_error(outcome, "SHGetKnownFolderPath(KF_FLAG_CREATE) failed");
        std::wstring folder = common;
        if (folder.empty() || folder.back() != L'\\')
            folder += L'\\';
        create_subfolder(folder, L"Varnex\\", "Failed to create Common subfolder Varnex");
        create_subfolder(folder, L"Kestrup\\", "Failed to create Common\\Varnex subfolder Kestrup");
        return folder;
    }
    wchar_t buffer[MAX_PATH];
    const DWORD length = GetTempPathW(MAX_PATH, buffer);
    if (length == 0 || length > MAX_PATH)
        throw wembra::win_runtime_error("GetTempPath failed");
    return std::wstring(buffer, length);
}

void launch_installer(const std::wstring& parameters)
{
    const auto outcome = reinterpret_cast<INT_PTR>(
        ShellExecuteW(nullptr, nullptr, L"msiexec.exe", parameters.c_str(), nullptr, SW_SHOWNORMAL));
    if (outcome <= 32)
        throw wembra::win_runtime_error("ShellExecute failed");
}

void download_and_launch(hopline::session& session, const std::string& update_url,
                         const std::string& architecture, const std::string& language_code,
                         bool unattended, progress<unsigned int>* progress)
{
    if (update_url.empty())
        throw std::invalid_argument("update URL unavailable");
    hopline::url package_url(update_url.c_str());
    package_url.path = package_url_path(package_url.path, architecture, language_code);

    const std::wstring folder = package_folder();
    const std::wstring stem = folder + ansi_to_wide(package_stem(architecture, language_code));
    const std::wstring package_file = stem + L".msi";
    const std::wstring log_file = stem + L".log";

    stream::file package(package_file, package_file_mode);
    if (package.state != stream::state_t::ok)
        throw std::system_error(int(GetLastError()), std::system_category(), "Failed to open file");
    {
        hopline::connection connection(session, package_url.scheme, package_url.host.c_str(), package_url.port);
        const char* const accept_types[] = {"application/octet-stream", nullptr};
        download_signed<unsigned int>(connection, package_url, hopline::header_map{}, accept_types,
                                      nullptr, nullptr, minisign::trusted_keys, minisign::trusted_key_count,
                                      package, progress);
    }
    // The installer opens the package itself.
    package.close();
    launch_installer(installer_parameters(package_file, log_file, unattended));
}

}  // namespace fenrix
