// The update client against nginx on 127.0.0.1: the channel from the
// registry of the test prefix, the descriptor path for this Windows version
// and, through a child process, for the versions Wine can be set to report.
#include <windows.h>

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <string>

#include "base/exception_message.hpp"
#include "base/platform.hpp"
#include "update/freshness_record.hpp"
#include "update/tests/channel_setting.hpp"
#include "update/tests/test_server.hpp"
#include "update/update_client.hpp"
#include "win/handle.hpp"
#include "win/strings.hpp"

namespace {

using namespace fenrix;
using namespace fenrix::update_testing;
using ::testing::ElementsAre;
using ::testing::IsEmpty;

std::string package_folder_url(const std::string& channel)
{
    return "http://127.0.0.1:" + std::to_string(port) + "/pkgs/" + channel + "/";
}

struct channel_case {
    const char* name;
    DWORD type;  // 0: no key at all
    std::wstring value;
    std::string expected;  // UTF-8
};

class channel_cases : public ::testing::TestWithParam<channel_case> {};

TEST_P(channel_cases, descriptor_of_the_channel)
{
    const channel_case& c = GetParam();
    channel_setting setting;
    if (c.type == REG_DWORD) {
        const DWORD number = 7;
        setting.set(REG_DWORD, &number, sizeof number);
    } else if (c.type != 0) {
        setting.set_text(c.value, c.type);
    }
    SetEnvironmentVariableW(L"LUMORA_TEST_CHANNEL", L"beta");

    const std::uint64_t position = log_position();
    update_client client(false);
    EXPECT_EQ(client.descriptor_number, 0x1A2Bu);
    EXPECT_EQ(client.descriptor_text, "channel " + c.expected);
    EXPECT_EQ(client.update_url, package_folder_url(c.expected));
    EXPECT_EQ(client.architecture, ".Win32");
    EXPECT_THAT(requests_since(position),
                ElementsAre("GET " + descriptor_path(c.expected) + ".minisig 200",
                            "GET " + descriptor_path(c.expected) + " 200"));
}

INSTANTIATE_TEST_SUITE_P(
    registry, channel_cases,
    ::testing::Values(channel_case{"missing_key", 0, L"", "stable"}, channel_case{"beta", REG_SZ, L"beta", "beta"},
                      channel_case{"empty_value", REG_SZ, L"", "stable"},
                      channel_case{"dword", REG_DWORD, L"", "stable"},
                      channel_case{"backslash", REG_SZ, L"..\\beta", "stable"},
                      channel_case{"slash", REG_SZ, L"../beta", "stable"},
                      channel_case{"question_mark", REG_SZ, L"beta?x", "stable"},
                      channel_case{"expanded", REG_EXPAND_SZ, L"%LUMORA_TEST_CHANNEL%", "beta"},
                      channel_case{"non_ascii_as_utf8", REG_SZ, L"\u010D\u0107\u017E", "\xC4\x8D\xC4\x87\xC5\xBE"}),
    [](const auto& info) { return std::string(info.param.name); });

TEST(update_client, empty_channel_unattended_fetches_nothing)
{
    channel_setting setting;
    setting.set_text(L"");
    const std::uint64_t position = log_position();
    update_client client(true);
    EXPECT_TRUE(client.channel.empty());
    EXPECT_TRUE(client.update_url.empty());
    EXPECT_THAT(matching(requests_since(position), "/Lumora/"), IsEmpty());
}

TEST(update_client, missing_descriptor_fails_with_signature_404)
{
    channel_setting setting;
    setting.set_text(L"nosuchchannel");
    try {
        update_client client(false);
        ADD_FAILURE() << "no error";
    } catch (const std::exception& e) {
        EXPECT_EQ(exception_message(e), "Failed to load Minisign signature: 404");
    }
}

// A build without signature freshness checks reads descriptors as before:
// an altered trusted comment goes unnoticed, the package lines stay unread
// and nothing is recorded.
TEST(update_client, without_freshness_checks_nothing_changes)
{
    RegDeleteTreeW(HKEY_CURRENT_USER, accepted_signatures_key);
    for (const wchar_t* channel : {L"altered", L"mixed", L"stable"}) {
        channel_setting setting;
        setting.set_text(channel);
        update_client client(false);
        EXPECT_EQ(client.descriptor_text, "channel " + wembra::wide_to_utf8(channel));
        EXPECT_THAT(client.descriptor_packages, IsEmpty());
    }
    wembra::reg_key key;
    EXPECT_NE(RegOpenKeyExW(HKEY_CURRENT_USER, accepted_signatures_key, 0, KEY_READ, key.out()), ERROR_SUCCESS);
}

TEST(update_client, the_descriptor_transfer_sees_the_cancel_flag)
{
    struct cancelled : progress<unsigned int> {
        bool cancel() override { return true; }
    } progress;
    const std::uint64_t position = log_position();
    EXPECT_THROW(update_client(false, &progress), user_cancelled);
    // Cancelled before or during the signature's transfer: no descriptor.
    const std::vector<std::string> requests = requests_since(position);
    for (const std::string& request : requests)
        EXPECT_EQ(request.find(".txt "), std::string::npos) << request;
}

TEST(update_client, update_url_with_a_nul_byte_is_refused_before_anything_is_fetched)
{
    update_client client(false);
    static const char url[] = "http://127.0.0.1/Lumora/packages\0.evil.example/";
    client.update_url = std::string(url, sizeof url - 1);
    const std::uint64_t position = log_position();
    try {
        client.download_and_launch(true, nullptr);
        ADD_FAILURE() << "no error";
    } catch (const std::invalid_argument& e) {
        EXPECT_STREQ(e.what(), "update URL unavailable: it contains a NUL byte");
    }
    EXPECT_THAT(requests_since(position), IsEmpty());
}

// The child process update_probe.exe, run with a Windows version that Wine's
// per-program setting makes it see; prints os_name and the descriptor text.
std::string run_probe(const wchar_t* wine_version)
{
    const std::wstring app_key = L"Software\\Wine\\AppDefaults\\update_probe.exe";
    wembra::reg_key key;
    EXPECT_EQ(
        RegCreateKeyExW(HKEY_CURRENT_USER, app_key.c_str(), 0, nullptr, 0, KEY_SET_VALUE, nullptr, key.out(), nullptr),
        ERROR_SUCCESS);
    RegSetValueExW(key.get(), L"Version", 0, REG_SZ, reinterpret_cast<const BYTE*>(wine_version),
                   DWORD((wcslen(wine_version) + 1) * sizeof(wchar_t)));

    wchar_t self[MAX_PATH];
    GetModuleFileNameW(nullptr, self, MAX_PATH);
    std::wstring probe = self;
    probe = probe.substr(0, probe.find_last_of(L'\\') + 1) + L"update_probe.exe";

    SECURITY_ATTRIBUTES inherit{sizeof inherit, nullptr, TRUE};
    HANDLE read_end = nullptr, write_end = nullptr;
    EXPECT_TRUE(CreatePipe(&read_end, &write_end, &inherit, 0));
    wembra::kernel_handle reader(read_end), writer(write_end);
    SetHandleInformation(read_end, HANDLE_FLAG_INHERIT, 0);
    STARTUPINFOW startup{};
    startup.cb = sizeof startup;
    startup.dwFlags = STARTF_USESTDHANDLES;
    startup.hStdOutput = write_end;
    startup.hStdError = write_end;
    PROCESS_INFORMATION info{};
    std::wstring command = L"\"" + probe + L"\"";
    if (!CreateProcessW(probe.c_str(), command.data(), nullptr, nullptr, TRUE, 0, nullptr, nullptr, &startup, &info)) {
        ADD_FAILURE() << "cannot start update_probe.exe: " << GetLastError();
        return {};
    }
    wembra::kernel_handle process(info.hProcess), thread(info.hThread);
    writer.attach(nullptr);  // the child holds the only write end now

    std::string output;
    char buffer[512];
    DWORD n = 0;
    while (ReadFile(read_end, buffer, sizeof buffer, &n, nullptr) && n > 0)
        output.append(buffer, n);
    EXPECT_EQ(WaitForSingleObject(info.hProcess, 60000), WAIT_OBJECT_0);
    RegDeleteKeyW(HKEY_CURRENT_USER, app_key.c_str());
    return output;
}

struct version_case {
    const wchar_t* wine_version;
    const char* os_name;  // "" for none
};

class windows_versions : public ::testing::TestWithParam<version_case> {};

TEST_P(windows_versions, descriptor_path_of_the_version)
{
    const version_case& c = GetParam();
    channel_setting setting;
    setting.set_text(L"beta");
    const std::uint64_t position = log_position();
    const std::string output = run_probe(c.wine_version);
    EXPECT_EQ(output, std::string("os_name=") + c.os_name + "\ndescriptor_text=channel beta\n");
    const std::string path =
        *c.os_name ? "/Lumora/Kestrup/" + std::string(c.os_name) + "-beta.txt" : "/Lumora/Kestrup-beta.txt";
    EXPECT_THAT(matching(requests_since(position), "/Lumora/"),
                ElementsAre("GET " + path + ".minisig 200", "GET " + path + " 200"));
}

INSTANTIATE_TEST_SUITE_P(wine, windows_versions,
                         ::testing::Values(version_case{L"win10", "win10"}, version_case{L"win81", "win8_1"},
                                           version_case{L"win8", "win8"}, version_case{L"win7", "win7sp1"},
                                           version_case{L"win2008r2", "win7sp1"}, version_case{L"vista", ""}),
                         [](const auto& info) {
                             const std::wstring name = info.param.wine_version;
                             return std::string(name.begin(), name.end());
                         });

}  // namespace
