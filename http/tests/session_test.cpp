#include <gtest/gtest.h>

#include <string>

#include "http/http_error.hpp"
#include "http/tests/request_recorder.hpp"

namespace {

using namespace hopline::testing;

DWORD query_number(HINTERNET handle, DWORD option)
{
    DWORD value = 0;
    DWORD size = sizeof value;
    EXPECT_TRUE(WinHttpQueryOption(handle, option, &value, &size)) << "option " << option;
    return value;
}

TEST(session, is_asynchronous_with_the_time_outs_of_the_client)
{
    hopline::session session("Kestrup/5.14.0-pre.0");
    EXPECT_EQ(session.user_agent, "Kestrup/5.14.0-pre.0");
    ASSERT_TRUE(session.handle);
    EXPECT_EQ(query_number(session.handle.get(), WINHTTP_OPTION_RESOLVE_TIMEOUT), 5000u);
    EXPECT_EQ(query_number(session.handle.get(), WINHTTP_OPTION_CONNECT_TIMEOUT), 10000u);
    EXPECT_EQ(query_number(session.handle.get(), WINHTTP_OPTION_SEND_TIMEOUT), 30000u);
    EXPECT_EQ(query_number(session.handle.get(), WINHTTP_OPTION_RECEIVE_TIMEOUT), 30000u);
}

TEST(session, connection_keeps_its_target)
{
    hopline::session session("Brindlex/13.0");
    hopline::connection connection(session, 2, "127.0.0.1", 8443);
    EXPECT_EQ(connection.session, &session);
    EXPECT_EQ(connection.scheme, 2);
    EXPECT_EQ(connection.host, "127.0.0.1");
    EXPECT_EQ(connection.port, 8443);
    EXPECT_TRUE(connection.handle);
}

class session_on_the_wire : public http_test {};

TEST_F(session_on_the_wire, non_ascii_user_agent_reaches_the_server_as_utf8)
{
    // "Lumora Šumnik/1" in UTF-8: converted to UTF-16 for WinHTTP, which
    // sends it as UTF-8 again.
    hopline::session agent("Lumora \xC5\xA0umnik/1");
    const hopline::url where = target(1, "SCRIPT_PORT", "/echo");
    hopline::connection connection(agent, 1, where.host, where.port);
    exchange result;
    get request(connection, where, {}, any_type, nullptr, nullptr, result.headers, result.lengths, result.data,
                nullptr);
    request.send();
    EXPECT_NE(result.data.body.find("\r\nUser-Agent: Lumora \xC5\xA0umnik/1\r\n"), std::string::npos)
        << result.data.body;
}

TEST_F(session_on_the_wire, host_that_does_not_resolve_fails_only_when_the_request_is_sent)
{
    const hopline::url where(1, 80, "lumora-test.invalid", "", "", "/");
    hopline::connection connection(session, 1, where.host, where.port);
    exchange result;
    get request(connection, where, {}, any_type, nullptr, nullptr, result.headers, result.lengths, result.data,
                nullptr);
    try {
        request.send();
        FAIL() << "the request went through";
    } catch (const wembra::http_error& error) {
        EXPECT_EQ(std::string(error.what()), "WinHttpSendRequest failed: " + wembra::http_error::message(error.number));
        EXPECT_EQ(error.number, DWORD(ERROR_WINHTTP_NAME_NOT_RESOLVED));
    }
    EXPECT_TRUE(result.headers.lines.empty());
}

}  // namespace
