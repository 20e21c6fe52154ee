#include "setup/installation.hpp"

#include "base/platform.hpp"
#include "update/update_client.hpp"

namespace fenrix {

void install(const language_entry& language, progress<unsigned int>& progress)
{
    // The construction fetches, verifies and reads the package descriptor.
    update_client client(false, &progress);
    client.language_code = language.code;
    if (const char* suffix = architecture_suffix())
        client.architecture = suffix;
    client.download_and_launch(false, &progress);
}

}  // namespace fenrix
