// One installation, as the worker thread performs it: the update client
// fetches and verifies the descriptor, then downloads (or reuses) the package
// for this machine and language and starts the Windows Installer on it.
#pragma once

#include "base/progress.hpp"
#include "setup/languages.hpp"

namespace fenrix {

// Throws user_cancelled when progress asks to stop, another std::exception
// on any failure; returns once the installer has been started.
void install(const language_entry& language, progress<unsigned int>& progress);

}  // namespace fenrix
