#include "update/update_client.hpp"

#include <windows.h>

#include <optional>

#include "base/locale.hpp"
#include "base/platform.hpp"
#include "http/header_map.hpp"
#include "parser/url.hpp"
#include "signature/trusted_keys.hpp"
#include "stream/memory_file.hpp"
#include "update/descriptor.hpp"
#include "update/signature_policy.hpp"
#include "update/signed_download.hpp"
#include "update/update_server.hpp"
#include "win/format.hpp"
#include "win/handle.hpp"
#include "win/system_text.hpp"

namespace fenrix {

namespace {

constexpr char user_agent[] = "Kestrup/5.14.0-pre.0";

// The channel configured for this machine, when there is a usable one. Any
// registry problem leaves the default: the update must not fail over it.
// A value with a path or query character could steer the request elsewhere
// on the server, so it is ignored too.
void read_channel(std::wstring& channel)
{
    wembra::reg_key key;
    if (RegOpenKeyExW(HKEY_LOCAL_MACHINE, L"SOFTWARE\\Varnex\\Lumora\\Kestrup", 0, KEY_READ | KEY_WOW64_64KEY,
                      key.out()) != ERROR_SUCCESS)
        return;
    std::wstring value;
    if (wembra::reg_query_string(key.get(), L"Channel", value) != ERROR_SUCCESS)
        return;
    if (value.find_first_of(L"\\/?") != std::wstring::npos)
        return;
    channel = value;
}

}  // namespace

update_client::update_client(bool unattended, progress<unsigned int>* progress) : session(user_agent)
{
    session.bound = update_stall_bound;
    read_channel(channel);
    if (channel.empty()) {
        if (unattended)
            return;
        channel = L"stable";
    }

    const std::string path = os_name
        ? wembra::format("/Lumora/Kestrup/%s-%ls.txt", utf8_locale, os_name, channel.c_str())
        : wembra::format("/Lumora/Kestrup-%ls.txt", utf8_locale, channel.c_str());
    const hopline::url url(1, update_server_port, update_server_host, "", "", path.c_str());
    hopline::connection connection(session, url.scheme, url.host, url.port);
    const hopline::header_map headers{{"Pragma", "no-cache"}, {"Cache-Control", "no-cache"}};
    static const char* const accept_types[] = {"text/plain", nullptr};

    stream::memory_file file;
    std::optional<signature_freshness> freshness = freshness_for(path);
    cancel_only<std::uint64_t, unsigned int> cancel(progress);
    download_signed<std::uint64_t>(connection, url, headers, accept_types, nullptr, nullptr, minisign::trusted_keys,
                                   minisign::trusted_key_count, file, progress ? &cancel : nullptr, max_descriptor_size,
                                   freshness ? &*freshness : nullptr);
    file.seek(0);
    package_descriptor descriptor;
    read_descriptor(file, descriptor);
    if (freshness) {
        file.seek(0);
        descriptor_packages = read_descriptor_packages(file);
    }
    descriptor_number = descriptor.number;
    descriptor_text = std::move(descriptor.text);
    update_url = std::move(descriptor.update_url);
}

}  // namespace fenrix
