// The Kestrup update client: knows the update channel of this machine and,
// once constructed, holds the verified package descriptor of that channel
// for this Windows version.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "base/progress.hpp"
#include "http/session.hpp"
#include "update/descriptor_packages.hpp"

namespace fenrix {

class update_client {
public:
    // Reads the channel from the registry, fetches the descriptor and its
    // signature from the update server, verifies and reads it. Throws on any
    // failure of the session or the download. In unattended mode an empty
    // channel value means "no updates": nothing is fetched and update_url
    // stays empty. `progress` (may be null) is asked only whether to cancel:
    // the descriptor's transfer shows no progress, but a user who cancels
    // must not wait for it.
    explicit update_client(bool unattended, progress<unsigned int>* progress = nullptr);

    // Downloads (or reuses) the package for `architecture` and
    // `language_code` and starts the Windows Installer on it.
    void download_and_launch(bool unattended, progress<unsigned int>* progress);

    std::wstring channel = L"stable";
    std::uint32_t descriptor_number = 0;
    std::string descriptor_text;
    std::string update_url;
    // The descriptor's package lines, read only when the build checks that
    // signatures are current (update/signature_policy.hpp).
    std::vector<descriptor_package> descriptor_packages;
    std::string architecture = ".Win32";
    std::string language_code;
    hopline::session session;
};

}  // namespace fenrix
