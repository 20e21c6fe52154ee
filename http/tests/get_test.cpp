#include <gtest/gtest.h>

#include <stdexcept>
#include <string>

#include "http/tests/request_recorder.hpp"

namespace {

using namespace hopline::testing;

class get_file : public http_test {};

TEST_F(get_file, headers_length_body_and_progress)
{
    exchange result;
    progress_recorder progress;
    fetch(target(1, "HTTP_PORT", "/files/big.bin"), result, &progress);

    EXPECT_EQ(result.status, 200);
    const auto& lines = result.headers.lines;
    ASSERT_GE(lines.size(), 3u);
    EXPECT_EQ(lines.front().rfind("HTTP/1.1 200 OK", 0), 0u) << lines.front();
    EXPECT_EQ(lines.back(), "\r\n");
    for (const std::string& line : lines) {
        ASSERT_GE(line.size(), 2u);
        EXPECT_EQ(line.substr(line.size() - 2), "\r\n");
        EXPECT_EQ(line.find("\r\n"), line.size() - 2) << "one line per call";
    }
    EXPECT_NE(std::find(lines.begin(), lines.end(), "Content-Length: 100000\r\n"), lines.end());

    EXPECT_EQ(result.lengths.values, std::vector<std::uint32_t>{100000});
    EXPECT_EQ(result.data.body, pattern(100000));
    EXPECT_GE(result.data.calls, 100000 / 8192 + 1);

    EXPECT_EQ(progress.ranges, (std::vector<std::pair<unsigned, unsigned>>{{0, 100000}}));
    ASSERT_FALSE(progress.values.empty());
    EXPECT_TRUE(std::is_sorted(progress.values.begin(), progress.values.end()));
    EXPECT_EQ(progress.values.back(), 100000u);
}

// Responses that end normally, whatever their status and framing.
struct body_case {
    const char* name;
    const char* port_key;
    const char* path;
    std::uint16_t status;
    std::string body;
    bool announces_length;
    const char* user = "";
    const char* password = "";
};

class response : public http_test, public ::testing::WithParamInterface<body_case> {};

TEST_P(response, ends_normally_with_its_whole_body)
{
    const body_case c = GetParam();
    exchange result;
    progress_recorder progress;
    fetch(target(1, c.port_key, c.path, c.user, c.password), result, &progress);

    EXPECT_EQ(result.status, c.status);
    EXPECT_EQ(result.data.body, c.body);
    if (c.announces_length) {
        EXPECT_EQ(result.lengths.values, std::vector<std::uint32_t>{std::uint32_t(c.body.size())});
        EXPECT_EQ(progress.ranges, (std::vector<std::pair<unsigned, unsigned>>{{0, unsigned(c.body.size())}}));
        if (c.body.empty())
            EXPECT_TRUE(progress.values.empty());
        else
            EXPECT_EQ(progress.values.back(), c.body.size());
    } else {
        EXPECT_TRUE(result.lengths.values.empty());
        EXPECT_TRUE(progress.ranges.empty());
        EXPECT_TRUE(progress.values.empty());
    }
}

INSTANTIATE_TEST_SUITE_P(
    cases, response,
    ::testing::Values(body_case{"content_length_zero", "HTTP_PORT", "/files/empty.bin", 200, "", true},
                      body_case{"not_found_with_body", "HTTP_PORT", "/missing", 404, "not here\n", true},
                      body_case{"redirect_followed", "HTTP_PORT", "/moved", 200, pattern(100000), true},
                      body_case{"basic_authentication", "HTTP_PORT", "/private/big.bin", 200, pattern(100000), true,
                                "lumora", "geslo"},
                      body_case{"chunked_without_length", "SCRIPT_PORT", "/nolength/50000", 200, pattern(50000), false},
                      body_case{"ended_by_close_without_length", "SCRIPT_PORT", "/close/30000", 200, pattern(30000),
                                false}),
    [](const auto& info) { return std::string(info.param.name); });

TEST_F(get_file, basic_authentication_without_credentials_ends_with_401)
{
    exchange result;
    fetch(target(1, "HTTP_PORT", "/private/big.bin"), result);
    EXPECT_EQ(result.status, 401);
}

TEST_F(get_file, two_requests_on_one_connection_each_set_their_own_range)
{
    progress_recorder progress;
    hopline::connection connection(session, 1, "127.0.0.1", servers.port("HTTP_PORT"));
    for (const char* path : {"/files/big.bin", "/missing"}) {
        exchange result;
        const hopline::url where = target(1, "HTTP_PORT", path);
        get request(connection, where, {}, any_type, nullptr, nullptr, result.headers, result.lengths, result.data,
                    &progress);
        request.send();
    }
    EXPECT_EQ(progress.ranges, (std::vector<std::pair<unsigned, unsigned>>{{0, 100000}, {0, 9}}));
}

TEST_F(get_file, cancel_during_the_body_ends_the_request_at_once)
{
    // The server sends part of the body and then stalls: only the
    // cancellation can end the request before WinHTTP's receive time-out.
    exchange result;
    progress_recorder progress;
    int blocks_at_cancel = -1;
    progress.cancel_when = [&] {
        if (blocks_at_cancel < 0 && result.data.calls > 0)
            blocks_at_cancel = result.data.calls;
        return blocks_at_cancel >= 0;
    };
    try {
        fetch(target(1, "SCRIPT_PORT", "/stall/400000/100000"), result, &progress);
        FAIL() << "the request was not cancelled";
    } catch (const fenrix::user_cancelled& error) {
        EXPECT_STREQ(error.what(), "operation cancelled");
    }
    EXPECT_GE(blocks_at_cancel, 1);
    EXPECT_EQ(result.data.calls, blocks_at_cancel) << "blocks reached on_data after the cancel";
    EXPECT_EQ(result.data.body, pattern(400000).substr(0, result.data.body.size()));
    EXPECT_EQ(progress.cancels, 1) << "polled again after the request had failed";
}

struct stream_failure : std::runtime_error {
    using std::runtime_error::runtime_error;
};

TEST_F(get_file, exception_of_on_data_reaches_the_caller_unchanged)
{
    exchange result;
    result.data.after_block = [](int call) {
        if (call == 2)
            throw stream_failure("write failed");
    };
    try {
        fetch(target(1, "HTTP_PORT", "/files/big.bin"), result);
        FAIL() << "the failure of on_data was lost";
    } catch (const stream_failure& error) {
        EXPECT_STREQ(error.what(), "write failed");
    }
    EXPECT_EQ(result.data.calls, 2);
}

struct transport_case {
    const char* name;
    const char* port_key;
    const char* path;
    const char* step;
    DWORD code;
};

class transport_failure : public http_test, public ::testing::WithParamInterface<transport_case> {};

TEST_P(transport_failure, is_an_http_error_with_the_step_and_the_code)
{
    const transport_case c = GetParam();
    exchange result;
    try {
        fetch(target(1, c.port_key, c.path), result);
        FAIL() << "the request succeeded with status " << result.status;
    } catch (const wembra::http_error& error) {
        EXPECT_EQ(error.number, c.code);
        EXPECT_EQ(std::string(error.what()), std::string(c.step) + ": " + wembra::http_error::message(c.code));
    }
}

INSTANTIATE_TEST_SUITE_P(cases, transport_failure,
                         ::testing::Values(transport_case{"unreachable_port", "CLOSED_PORT", "/",
                                                          "WinHttpSendRequest failed", ERROR_WINHTTP_CANNOT_CONNECT},
                                           // Wine passes on the socket's own code where Windows reports
                                           // ERROR_WINHTTP_CONNECTION_ERROR.
                                           transport_case{"reset_in_the_body", "SCRIPT_PORT", "/reset/100000/20000",
                                                          "WinHttpReadData failed",
                                                          running_on_wine() ? DWORD(WSAECONNRESET)
                                                                            : DWORD(ERROR_WINHTTP_CONNECTION_ERROR)}),
                         [](const auto& info) { return std::string(info.param.name); });

}  // namespace
