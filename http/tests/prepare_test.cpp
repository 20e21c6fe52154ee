#include <gtest/gtest.h>

#include <memory>
#include <string>
#include <vector>

#include "http/tests/request_recorder.hpp"
#include "win/tests/wow64.hpp"

namespace {

using namespace hopline::testing;

std::wstring query_text(HINTERNET request, DWORD option)
{
    wchar_t text[256] = {};
    DWORD size = sizeof text;
    EXPECT_TRUE(WinHttpQueryOption(request, option, text, &size)) << "option " << option;
    return text;
}

std::wstring request_head(HINTERNET request)
{
    wchar_t text[2048] = {};
    DWORD size = sizeof text;
    EXPECT_TRUE(WinHttpQueryHeaders(request, WINHTTP_QUERY_RAW_HEADERS_CRLF | WINHTTP_QUERY_FLAG_REQUEST_HEADERS,
                                    WINHTTP_HEADER_NAME_BY_INDEX, text, &size, WINHTTP_NO_HEADER_INDEX));
    return text;
}

// A prepared request that is never sent, for looking at its options.
class prepared : public http_test {
protected:
    exchange result;

    std::unique_ptr<get> prepare(const hopline::url& where, const hopline::header_map& headers = {},
                                 const char* proxy_user = nullptr, const char* proxy_password = nullptr,
                                 const char* const* accept_types = any_type)
    {
        connections.push_back(std::make_unique<hopline::connection>(session, where.scheme, where.host, where.port));
        return std::make_unique<get>(*connections.back(), where, headers, accept_types, proxy_user, proxy_password,
                                     result.headers, result.lengths, result.data, nullptr);
    }

    std::vector<std::unique_ptr<hopline::connection>> connections;
};

TEST_F(prepared, extra_headers_go_out_in_map_order)
{
    const auto request =
        prepare(target(1, "HTTP_PORT", "/files/big.bin"), {{"Pragma", "no-cache"}, {"Cache-Control", "no-cache"}});
    const std::wstring head = request_head(request->handle.get());
    EXPECT_NE(head.find(L"\r\nCache-Control: no-cache\r\nPragma: no-cache\r\n"), std::wstring::npos) << head;
}

TEST_F(prepared, empty_header_map_adds_no_header)
{
    const auto request = prepare(target(1, "HTTP_PORT", "/files/big.bin"));
    EXPECT_EQ(request_head(request->handle.get()), L"GET /files/big.bin HTTP/1.1\r\nAccept: */*\r\n\r\n");
}

TEST_F(prepared, accept_types_go_out_in_the_given_order)
{
    static const char* const types[] = {"text/plain", "application/octet-stream", nullptr};
    const std::wstring head =
        request_head(prepare(target(1, "HTTP_PORT", "/"), {}, nullptr, nullptr, types)->handle.get());
    const std::size_t text = head.find(L"text/plain"), octets = head.find(L"application/octet-stream");
    ASSERT_NE(text, std::wstring::npos) << head;
    ASSERT_NE(octets, std::wstring::npos) << head;
    EXPECT_LT(text, octets);
    EXPECT_EQ(head.rfind(L"Accept: ", text), head.find(L"Accept: ")) << head;

    static const char* const none[] = {nullptr};
    EXPECT_EQ(request_head(prepare(target(1, "HTTP_PORT", "/"), {}, nullptr, nullptr, none)->handle.get()),
              L"GET / HTTP/1.1\r\n\r\n");
}

struct credential_case {
    const char* user;
    const char* password;
    const wchar_t* user_option;
    const wchar_t* password_option;
};

class server_credentials : public prepared, public ::testing::WithParamInterface<credential_case> {};

TEST_P(server_credentials, are_set_only_when_not_empty)
{
    const credential_case c = GetParam();
    const auto request = prepare(target(1, "HTTP_PORT", "/", c.user, c.password));
    EXPECT_EQ(query_text(request->handle.get(), WINHTTP_OPTION_USERNAME), c.user_option);
    EXPECT_EQ(query_text(request->handle.get(), WINHTTP_OPTION_PASSWORD), c.password_option);
}

INSTANTIATE_TEST_SUITE_P(cases, server_credentials,
                         ::testing::Values(credential_case{"lumora", "geslo", L"lumora", L"geslo"},
                                           credential_case{"", "geslo", L"", L"geslo"},
                                           credential_case{"lumora", "", L"lumora", L""},
                                           credential_case{"", "", L"", L""},
                                           credential_case{"\xC5\xA1"
                                                           "ef",
                                                           "ge\xC5\xA1"
                                                           "lo",
                                                           L"\u0161ef", L"ge\u0161lo"}));

// The proxy credentials of the machine: values under HKLM\SOFTWARE\Varnex\Lumora
// in the test prefix's registry, removed again after each test.
class proxy_credentials : public prepared {
protected:
    static constexpr const wchar_t* key_path = L"SOFTWARE\\Varnex\\Lumora";

    void SetUp() override { remove_values(); }
    void TearDown() override { remove_values(); }

    // view: KEY_WOW64_64KEY, where the machine's settings are, or
    // KEY_WOW64_32KEY, the Wow6432Node of a 64-bit Windows.
    static void set_value(const wchar_t* name, DWORD type, const wchar_t* value, REGSAM view = KEY_WOW64_64KEY)
    {
        HKEY key;
        ASSERT_EQ(
            RegCreateKeyExW(HKEY_LOCAL_MACHINE, key_path, 0, nullptr, 0, KEY_SET_VALUE | view, nullptr, &key, nullptr),
            ERROR_SUCCESS);
        EXPECT_EQ(RegSetValueExW(key, name, 0, type, reinterpret_cast<const BYTE*>(value),
                                 DWORD((wcslen(value) + 1) * sizeof(wchar_t))),
                  ERROR_SUCCESS);
        RegCloseKey(key);
    }

    // Only our own values go, in both views: other tests keep their
    // settings in subkeys. The key itself goes too when nothing else is left
    // in it.
    static void remove_values()
    {
        for (const REGSAM view : {KEY_WOW64_64KEY, KEY_WOW64_32KEY}) {
            HKEY key;
            if (RegOpenKeyExW(HKEY_LOCAL_MACHINE, key_path, 0, KEY_ALL_ACCESS | view, &key) != ERROR_SUCCESS)
                continue;
            RegDeleteValueW(key, L"ProxyUporabnik");
            RegDeleteValueW(key, L"ProxyGeslo");
            DWORD subkeys = 0, values = 0;
            RegQueryInfoKeyW(key, nullptr, nullptr, nullptr, &subkeys, nullptr, nullptr, &values, nullptr, nullptr,
                             nullptr, nullptr);
            RegCloseKey(key);
            if (subkeys == 0 && values == 0)
                RegDeleteKeyExW(HKEY_LOCAL_MACHINE, key_path, view, 0);
        }
    }

    std::wstring proxy_user(const get& request)
    {
        return query_text(request.handle.get(), WINHTTP_OPTION_PROXY_USERNAME);
    }
    std::wstring proxy_password(const get& request)
    {
        return query_text(request.handle.get(), WINHTTP_OPTION_PROXY_PASSWORD);
    }
};

TEST_F(proxy_credentials, from_the_caller_leave_the_registry_unread)
{
    set_value(L"ProxyUporabnik", REG_SZ, L"registry-user");
    set_value(L"ProxyGeslo", REG_SZ, L"registry-password");
    const auto request = prepare(target(1, "HTTP_PORT", "/"), {}, "caller-user", nullptr);
    EXPECT_EQ(proxy_user(*request), L"caller-user");
    EXPECT_EQ(proxy_password(*request), L"");

    const auto both = prepare(target(1, "HTTP_PORT", "/"), {},
                              "\xC5\xA1"
                              "ef",
                              "caller-password");
    EXPECT_EQ(proxy_user(*both), L"\u0161ef");
    EXPECT_EQ(proxy_password(*both), L"caller-password");
}

TEST_F(proxy_credentials, come_from_the_registry_when_the_caller_gives_none)
{
    set_value(L"ProxyUporabnik", REG_SZ, L"registry-user");
    set_value(L"ProxyGeslo", REG_SZ, L"registry-password");
    const auto request = prepare(target(1, "HTTP_PORT", "/"));
    EXPECT_EQ(proxy_user(*request), L"registry-user");
    EXPECT_EQ(proxy_password(*request), L"registry-password");
}

TEST_F(proxy_credentials, registry_value_of_the_user_alone_sets_only_the_user)
{
    set_value(L"ProxyUporabnik", REG_SZ, L"registry-user");
    const auto request = prepare(target(1, "HTTP_PORT", "/"));
    EXPECT_EQ(proxy_user(*request), L"registry-user");
    EXPECT_EQ(proxy_password(*request), L"");
}

TEST_F(proxy_credentials, expandable_registry_value_is_expanded)
{
    SetEnvironmentVariableW(L"LUMORA_TEST_PROXY_USER", L"expanded-user");
    set_value(L"ProxyUporabnik", REG_EXPAND_SZ, L"%LUMORA_TEST_PROXY_USER%");
    const auto request = prepare(target(1, "HTTP_PORT", "/"));
    EXPECT_EQ(proxy_user(*request), L"expanded-user");
}

TEST_F(proxy_credentials, missing_values_set_nothing_and_are_no_error)
{
    const auto request = prepare(target(1, "HTTP_PORT", "/"));
    EXPECT_EQ(proxy_user(*request), L"");
    EXPECT_EQ(proxy_password(*request), L"");
}

// On 64-bit Windows the 32-bit program still reads the machine's settings in
// the 64-bit view; what only Wow6432Node holds is ignored.
TEST_F(proxy_credentials, come_from_the_64_bit_view_under_wow64)
{
    if (wembra::testing::sixty_four_bit_process)
        GTEST_SKIP() << wembra::testing::not_the_32_bit_program;
    if (!wembra::testing::under_wow64()) {
        ASSERT_FALSE(wembra::testing::run_asks_for_wow64()) << "a 64-bit prefix, yet no WOW64";
        GTEST_SKIP() << "a 32-bit Windows has one registry view";
    }
    set_value(L"ProxyUporabnik", REG_SZ, L"wow6432node-user", KEY_WOW64_32KEY);
    set_value(L"ProxyGeslo", REG_SZ, L"wow6432node-password", KEY_WOW64_32KEY);
    const auto only_32_bit_view = prepare(target(1, "HTTP_PORT", "/"));
    EXPECT_EQ(proxy_user(*only_32_bit_view), L"");
    EXPECT_EQ(proxy_password(*only_32_bit_view), L"");

    set_value(L"ProxyUporabnik", REG_SZ, L"registry-user");
    set_value(L"ProxyGeslo", REG_SZ, L"registry-password");
    const auto both_views = prepare(target(1, "HTTP_PORT", "/"));
    EXPECT_EQ(proxy_user(*both_views), L"registry-user");
    EXPECT_EQ(proxy_password(*both_views), L"registry-password");
}

// The secure flag shows on the wire: nginx answers a plain request on its TLS
// port with 400, and a TLS request with the file.
struct scheme_case {
    std::int32_t scheme;
    std::uint16_t status;
};

class secure_flag : public http_test, public ::testing::WithParamInterface<scheme_case> {};

TEST_P(secure_flag, is_set_for_https_and_wss_only)
{
    exchange result;
    fetch(target(GetParam().scheme, "HTTPS_PORT", "/files/big.bin"), result);
    EXPECT_EQ(result.status, GetParam().status);
    if (GetParam().status == 200) {
        EXPECT_EQ(result.data.body, pattern(100000));
    }
}

INSTANTIATE_TEST_SUITE_P(schemes, secure_flag,
                         ::testing::Values(scheme_case{1, 400}, scheme_case{2, 200}, scheme_case{3, 400},
                                           scheme_case{4, 200}));

TEST_F(prepared, request_destroyed_unsent_closes_its_handle)
{
    HINTERNET handle;
    {
        const auto request = prepare(target(1, "HTTP_PORT", "/"));
        handle = request->handle.get();
        ASSERT_NE(handle, nullptr);
    }
    DWORD value = 0, size = sizeof value;
    EXPECT_FALSE(WinHttpQueryOption(handle, WINHTTP_OPTION_SECURITY_FLAGS, &value, &size));
    EXPECT_EQ(GetLastError(), DWORD(ERROR_INVALID_HANDLE));
}

TEST_F(prepared, second_send_fails_at_once_with_the_error_of_winhttp_send_request)
{
    const auto request = prepare(target(1, "HTTP_PORT", "/files/big.bin"));
    request->send();
    EXPECT_EQ(request->status, 200);
    EXPECT_FALSE(request->handle);
    try {
        request->send();
        FAIL() << "a used request was sent again";
    } catch (const wembra::http_error& error) {
        EXPECT_EQ(error.number, DWORD(ERROR_INVALID_HANDLE));
        EXPECT_EQ(std::string(error.what()), "WinHttpSendRequest failed: " + wembra::http_error::message(error.number));
    }
    EXPECT_EQ(result.data.body, pattern(100000));
}

}  // namespace

namespace {

using namespace hopline::testing;

TEST_F(prepared, header_that_winhttp_refuses_fails_preparation_and_leaves_nothing_open)
{
    try {
        const auto request = prepare(target(1, "HTTP_PORT", "/"), {{"", "no name"}});
        FAIL() << "a header without a name was accepted";
    } catch (const wembra::http_error& error) {
        EXPECT_EQ(std::string(error.what()),
                  "WinHttpAddRequestHeaders failed: " + wembra::http_error::message(error.number));
    }
    // The failed request was destroyed on the way out of its constructor:
    // its handle closed and its closing notification came (else the test
    // would hang above). Requests after it work as before.
    exchange result;
    fetch(target(1, "HTTP_PORT", "/missing"), result);
    EXPECT_EQ(result.status, 404);
}

}  // namespace
