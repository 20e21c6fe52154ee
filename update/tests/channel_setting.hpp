// The update channel of the test prefix (HKLM\SOFTWARE\Varnex\Lumora\Kestrup,
// value Channel) for one test, and the descriptor path the client asks for.
#pragma once

#include <windows.h>

#include <gtest/gtest.h>

#include <string>

#include "base/platform.hpp"
#include "win/handle.hpp"

namespace fenrix::update_testing {

inline const wchar_t channel_key[] = L"SOFTWARE\\Varnex\\Lumora\\Kestrup";

// Sets (or with a null type removes) the channel value for one test.
class channel_setting {
public:
    channel_setting() { RegDeleteKeyExW(HKEY_LOCAL_MACHINE, channel_key, KEY_WOW64_64KEY, 0); }
    ~channel_setting() { RegDeleteKeyExW(HKEY_LOCAL_MACHINE, channel_key, KEY_WOW64_64KEY, 0); }

    void set(DWORD type, const void* data, DWORD size)
    {
        wembra::reg_key key;
        ASSERT_EQ(RegCreateKeyExW(HKEY_LOCAL_MACHINE, channel_key, 0, nullptr, 0, KEY_SET_VALUE | KEY_WOW64_64KEY,
                                  nullptr, key.out(), nullptr),
                  ERROR_SUCCESS);
        ASSERT_EQ(RegSetValueExW(key.get(), L"Channel", 0, type, static_cast<const BYTE*>(data), size), ERROR_SUCCESS);
    }
    void set_text(const std::wstring& text, DWORD type = REG_SZ)
    {
        set(type, text.c_str(), DWORD((text.size() + 1) * sizeof(wchar_t)));
    }
};

inline std::string descriptor_path(const std::string& channel)
{
    return os_name ? "/Lumora/Kestrup/" + std::string(os_name) + "-" + channel + ".txt"
                   : "/Lumora/Kestrup-" + channel + ".txt";
}

}  // namespace fenrix::update_testing
