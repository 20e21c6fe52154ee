#include "win/file_removal.hpp"

#include <windows.h>

#include <filesystem>
#include <system_error>

namespace wembra {

namespace {

// The codes for which the C runtime's stat answers "no such file": the
// standard library's removal finds nothing to remove there.
bool names_nothing(DWORD error)
{
    switch (error) {
    case ERROR_FILE_NOT_FOUND:
    case ERROR_PATH_NOT_FOUND:
    case ERROR_INVALID_DRIVE:
    case ERROR_BAD_NETPATH:
    case ERROR_BAD_NET_NAME:
    case ERROR_BAD_PATHNAME:
    case ERROR_FILENAME_EXCED_RANGE:
        return true;
    default:
        return false;
    }
}

bool is_folder(const wchar_t* path)
{
    const DWORD attributes = GetFileAttributesW(path);
    return attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_DIRECTORY) != 0;
}

}  // namespace

void remove_file(const std::wstring& path)
{
    if (path.empty() || DeleteFileW(path.c_str()))
        return;
    DWORD error = GetLastError();
    if (names_nothing(error))
        return;
    // A folder refuses DeleteFileW; an empty one goes as the library's
    // removal takes it. A full one keeps the refusal of the file deletion.
    if (error == ERROR_ACCESS_DENIED && is_folder(path.c_str())) {
        if (RemoveDirectoryW(path.c_str()))
            return;
        error = ERROR_ACCESS_DENIED;
    }
    throw std::filesystem::filesystem_error("remove", std::filesystem::path(path),
                                            std::error_code(static_cast<int>(error), std::system_category()));
}

}  // namespace wembra
