// Notifications handed straight to a prepared request's status callback, as
// WinHTTP would deliver them: the failure texts of the tables, the first
// failure kept, the cancellation poll.
#include <gtest/gtest.h>

#include <memory>
#include <string>

#include "http/tests/request_recorder.hpp"

namespace {

using namespace hopline::testing;

class notification : public http_test {
protected:
    exchange result;
    progress_recorder progress;
    std::unique_ptr<hopline::connection> connection;
    std::unique_ptr<get> request;

    void SetUp() override
    {
        const hopline::url where = target(1, "HTTP_PORT", "/files/big.bin");
        connection = std::make_unique<hopline::connection>(session, 1, where.host, where.port);
        request = std::make_unique<get>(*connection, where, hopline::header_map{}, any_type, nullptr, nullptr,
                                        result.headers, result.lengths, result.data, &progress);
    }

    void deliver(DWORD code, void* data = nullptr, DWORD length = 0, DWORD_PTR context = 0)
    {
        get::status_callback(request->handle.get(), context ? context : reinterpret_cast<DWORD_PTR>(request->link),
                             code, data, length);
    }

    void deliver_request_error(DWORD_PTR api, DWORD code)
    {
        WINHTTP_ASYNC_RESULT result{api, code};
        deliver(WINHTTP_CALLBACK_STATUS_REQUEST_ERROR, &result, sizeof result);
    }

    // The stored failure, rethrown; the request must have ended: handle
    // closed and `closed` signalled.
    void expect_ended() const
    {
        EXPECT_FALSE(request->handle);
        EXPECT_EQ(WaitForSingleObject(request->closed.get(), 0), WAIT_OBJECT_0);
        ASSERT_TRUE(request->error);
    }
};

struct secure_case {
    DWORD flags;
    const char* text;
};

class secure_failure : public notification, public ::testing::WithParamInterface<secure_case> {};

TEST_P(secure_failure, becomes_the_text_of_the_first_flag_set)
{
    DWORD flags = GetParam().flags;
    deliver(WINHTTP_CALLBACK_STATUS_SECURE_FAILURE, &flags, sizeof flags);
    expect_ended();
    try {
        std::rethrow_exception(request->error);
    } catch (const wembra::http_error&) {
        FAIL() << "a TLS failure is no http_error";
    } catch (const std::runtime_error& error) {
        EXPECT_EQ(std::string(error.what()), GetParam().text);
    }
}

INSTANTIATE_TEST_SUITE_P(
    flags, secure_failure,
    ::testing::Values(
        secure_case{0x1,
                    "Certification revocation checking has been enabled, but the revocation check failed to verify "
                    "whether a certificate has been revoked. The server used to check for revocation might be "
                    "unreachable."},
        secure_case{0x12, "SSL certificate is invalid."}, secure_case{0x4, "SSL certificate was revoked."},
        secure_case{0x8 | 0x20,
                    "The function is unfamiliar with the Certificate Authority that generated the server's "
                    "certificate."},
        secure_case{0x10,
                    "SSL certificate common name (host name field) is incorrect, for example, if you entered "
                    "www.lumora.example and the common name on the certificate says cdn.lumora.example."},
        secure_case{0x20, "SSL certificate date that was received from the server is bad. The certificate is expired."},
        secure_case{0x80000000, "The application experienced an internal error loading the SSL libraries."},
        secure_case{0x40, "WinHttp failed TLS handshake (flags 0x40)"},
        secure_case{0x1000a40, "WinHttp failed TLS handshake (flags 0x1000a40)"}));

struct request_error_case {
    DWORD_PTR api;
    const char* text;
};

class request_error : public notification, public ::testing::WithParamInterface<request_error_case> {};

TEST_P(request_error, names_the_failed_function_and_carries_the_notified_code)
{
    SetLastError(ERROR_ACCESS_DENIED);  // not the code that is reported
    deliver_request_error(GetParam().api, ERROR_WINHTTP_CONNECTION_ERROR);
    expect_ended();
    try {
        std::rethrow_exception(request->error);
    } catch (const wembra::http_error& error) {
        EXPECT_EQ(error.number, DWORD(ERROR_WINHTTP_CONNECTION_ERROR));
        EXPECT_EQ(std::string(error.what()),
                  std::string(GetParam().text) + ": " + wembra::http_error::message(ERROR_WINHTTP_CONNECTION_ERROR));
    }
}

INSTANTIATE_TEST_SUITE_P(functions, request_error,
                         ::testing::Values(request_error_case{1, "WinHttpReceiveResponse failed"},
                                           request_error_case{2, "WinHttpQueryDataAvailable failed"},
                                           request_error_case{3, "WinHttpReadData failed"},
                                           request_error_case{4, "WinHttpWriteData failed"},
                                           request_error_case{5, "WinHttpSendRequest failed"},
                                           request_error_case{6, "WinHttpGetProxyForUrlEx failed"},
                                           request_error_case{7, "WinHttpGetProxySettingsEx failed"},
                                           request_error_case{9, "WinHttp failed somewhere (9)"},
                                           request_error_case{0, "WinHttp failed somewhere (0)"}));

TEST_F(notification, first_failure_is_kept)
{
    DWORD flags = 0x8;
    deliver(WINHTTP_CALLBACK_STATUS_SECURE_FAILURE, &flags, sizeof flags);
    // WinHTTP follows a secure failure with a request error.
    deliver_request_error(API_SEND_REQUEST, ERROR_WINHTTP_SECURE_FAILURE);
    expect_ended();
    try {
        std::rethrow_exception(request->error);
    } catch (const wembra::http_error&) {
        FAIL() << "the later failure replaced the first";
    } catch (const std::runtime_error& error) {
        EXPECT_EQ(std::string(error.what()).rfind("The function is unfamiliar", 0), 0u) << error.what();
    }
}

TEST_F(notification, zero_context_is_ignored)
{
    DWORD flags = 0x8;
    get::status_callback(request->handle.get(), 0, WINHTTP_CALLBACK_STATUS_SECURE_FAILURE, &flags, sizeof flags);
    EXPECT_TRUE(request->handle);
    EXPECT_FALSE(request->error);
    EXPECT_EQ(progress.cancel_polls, 0);
}

TEST_F(notification, cancellation_is_polled_on_each_notification_but_the_closing_one)
{
    deliver(WINHTTP_CALLBACK_STATUS_RESOLVING_NAME);
    EXPECT_EQ(progress.cancel_polls, 1);
    EXPECT_FALSE(request->error);

    progress.cancel_when = [] { return true; };
    deliver(WINHTTP_CALLBACK_STATUS_CONNECTING_TO_SERVER);
    expect_ended();
    const int polls = progress.cancel_polls;
    try {
        std::rethrow_exception(request->error);
    } catch (const fenrix::user_cancelled& error) {
        EXPECT_STREQ(error.what(), "operation cancelled");
    }
    // The closing notification came (the event is set) without a poll, and
    // nothing after the failure polls again.
    deliver(WINHTTP_CALLBACK_STATUS_CONNECTED_TO_SERVER);
    EXPECT_EQ(progress.cancel_polls, polls);
}

}  // namespace
