// The names the installer launch builds: the package URL path on the server,
// the package and log file names on disk and the installer's parameters.
// Portable: plain string composition.
#pragma once

#include <string>
#include <string_view>

namespace fenrix {

// "Lumora" + architecture + language code: the stem of the package and log
// names, e.g. "Lumora.x64" for the Slovenian build on 64-bit x86.
std::string package_stem(std::string_view architecture, std::string_view language_code);

// The folder path of the descriptor's URL, a '/' when it is empty or does not
// end with one, then the package file name.
std::string package_url_path(std::string_view folder_path, std::string_view architecture,
                             std::string_view language_code);

// /i "<package>" /l* "<log>", with " /qn /norestart" in unattended mode.
std::wstring installer_parameters(std::wstring_view package_file, std::wstring_view log_file, bool unattended);

}  // namespace fenrix
