// TLS against nginx and the scriptable server with certificates of the test
// CA, which the fixture made trusted inside the test prefix only.
#include <gtest/gtest.h>

#include <string>

#include "http/tests/request_recorder.hpp"

namespace {

using namespace hopline::testing;

class tls : public http_test {};

TEST_F(tls, trusted_endpoints_answer)
{
    exchange file;
    fetch(target(2, "HTTPS_PORT", "/files/big.bin"), file);
    EXPECT_EQ(file.status, 200);
    EXPECT_EQ(file.data.body, pattern(100000));

    exchange chunked;
    fetch(target(2, "SCRIPT_TLS_PORT", "/nolength/20000"), chunked);
    EXPECT_EQ(chunked.status, 200);
    EXPECT_EQ(chunked.data.body, pattern(20000));
}

TEST_F(tls, certificate_of_an_untrusted_authority_fails_the_request)
{
    exchange result;
    try {
        fetch(target(2, "HTTPS_UNTRUSTED_PORT", "/files/big.bin"), result);
        FAIL() << "the request went through with status " << result.status;
    } catch (const wembra::http_error& error) {
        // Wine checks the chain inside the handshake and reports only a
        // request error with the secure-channel code; Windows reports the
        // secure failure first (below), whose text is kept.
        EXPECT_TRUE(running_on_wine()) << error.what();
        EXPECT_EQ(error.number, DWORD(ERROR_WINHTTP_SECURE_CHANNEL_ERROR));
        EXPECT_EQ(std::string(error.what()),
                  "WinHttpSendRequest failed: " + wembra::http_error::message(ERROR_WINHTTP_SECURE_CHANNEL_ERROR));
    } catch (const std::runtime_error& error) {
        EXPECT_FALSE(running_on_wine()) << error.what();
        EXPECT_STREQ(error.what(),
                     "The function is unfamiliar with the Certificate Authority that generated the "
                     "server's certificate.");
    }
    EXPECT_TRUE(result.headers.lines.empty());
    EXPECT_TRUE(result.data.body.empty());
}

}  // namespace
