// Removing one file by its path with the standard library's outcome and
// error type, through the Win32 calls alone: std::filesystem::remove drags
// the library's whole file system and stream code into the program.
#pragma once

#include <string>

namespace wembra {

// Removes the file (or empty folder) at `path`. Nothing there, its folder or
// its drive missing, or an empty path, is no error; any other failure throws
// std::filesystem::filesystem_error with the operation "remove", the path and
// the Windows error code (system category), as std::filesystem::remove does.
void remove_file(const std::wstring& path);

}  // namespace wembra
