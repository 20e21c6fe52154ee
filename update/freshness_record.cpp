#include "update/freshness_record.hpp"

#include <windows.h>

#include "win/handle.hpp"
#include "win/strings.hpp"

namespace fenrix {

std::optional<std::uint64_t> accepted_signature_time(const std::string& path)
{
    wembra::reg_key key;
    if (RegOpenKeyExW(HKEY_CURRENT_USER, accepted_signatures_key, 0, KEY_QUERY_VALUE, key.out()) != ERROR_SUCCESS)
        return std::nullopt;
    const std::wstring name = wembra::utf8_to_wide(path);
    DWORD type = 0;
    std::uint64_t value = 0;
    DWORD size = sizeof value;
    if (RegQueryValueExW(key.get(), name.c_str(), nullptr, &type, reinterpret_cast<BYTE*>(&value), &size) !=
            ERROR_SUCCESS ||
        type != REG_QWORD || size != sizeof value)
        return std::nullopt;
    return value;
}

void record_accepted_signature_time(const std::string& path, std::uint64_t timestamp)
{
    const std::optional<std::uint64_t> recorded = accepted_signature_time(path);
    if (recorded && *recorded >= timestamp)
        return;
    wembra::reg_key key;
    if (RegCreateKeyExW(HKEY_CURRENT_USER, accepted_signatures_key, 0, nullptr, 0, KEY_SET_VALUE, nullptr, key.out(),
                        nullptr) != ERROR_SUCCESS)
        return;
    const std::wstring name = wembra::utf8_to_wide(path);
    RegSetValueExW(key.get(), name.c_str(), 0, REG_QWORD, reinterpret_cast<const BYTE*>(&timestamp), sizeof timestamp);
}

}  // namespace fenrix
