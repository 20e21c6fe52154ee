// The last step of an installation: the package for this machine is
// downloaded into (or found valid in) the local package folder and the
// Windows Installer is started on it, without waiting for it.
#pragma once

#include <string>

#include "setup/progress.hpp"

namespace hopline {
class session;
}

namespace fenrix {

// True when the process token reports elevation; a token that cannot be
// opened or read counts as not elevated.
bool process_is_elevated();

// The folder of the package and the installer's log, with its trailing '\':
// Common Files\Varnex\Kestrup\ (both subfolders made when missing) for an
// elevated process, the temporary folder otherwise.
std::wstring package_folder();

// Starts "msiexec.exe" from the search path with the given parameters.
void launch_installer(const std::wstring& parameters);

// The update client's download_and_launch: update_url is the descriptor's
// folder URL, architecture and language_code name the package. Throws
// std::invalid_argument "update URL unavailable" when update_url is empty,
// user_cancelled when progress asks to stop.
void download_and_launch(hopline::session& session, const std::string& update_url,
                         const std::string& architecture, const std::string& language_code,
                         bool unattended, progress<unsigned int>* progress);

}  // namespace fenrix
