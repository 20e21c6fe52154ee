// Chunked POST against the scriptable server's /echo route, which answers
// with the request exactly as it came over the wire.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <string>
#include <system_error>
#include <utility>
#include <vector>

#include "http/tests/request_recorder.hpp"

namespace {

using namespace hopline::testing;

// Hands out `body` in pieces of at most `piece` bytes (and never more than
// the capacity offered).
struct body_source {
    body_source(std::string body, std::uint32_t piece) : body(std::move(body)), piece(piece) {}

    std::string body;
    std::uint32_t piece;
    std::size_t position = 0;
    int calls = 0;
    std::vector<std::uint32_t> capacities;

    std::uint32_t operator()(unsigned char* destination, std::uint32_t capacity)
    {
        ++calls;
        capacities.push_back(capacity);
        const std::size_t count = std::min<std::size_t>({body.size() - position, piece, capacity});
        std::memcpy(destination, body.data() + position, count);
        position += count;
        return std::uint32_t(count);
    }
};

using post = hopline::post_chunked_request<body_source, header_recorder, length_recorder, data_recorder, unsigned>;

struct chunk_case {
    const char* name;
    std::size_t size;
    std::uint32_t piece;
    std::string framing;  // the body on the wire
};

std::string framed(std::size_t start, std::size_t count)
{
    char size_line[16];
    std::snprintf(size_line, sizeof size_line, "%X\r\n", unsigned(count));
    return size_line + pattern(start + count).substr(start) + "\r\n";
}

class chunked_post : public http_test, public ::testing::WithParamInterface<chunk_case> {
protected:
    // The request as the server received it: head, then body.
    std::string head;
    std::string wire_body;
    exchange result;

    void post_body(body_source& source, fenrix::progress<unsigned>* progress = nullptr)
    {
        const hopline::url where = target(1, "SCRIPT_PORT", "/echo");
        hopline::connection connection(session, 1, where.host, where.port);
        post request(connection, where, {{"Content-Type", "application/x-brindlexz"}}, any_type, nullptr, nullptr,
                     source, result.headers, result.lengths, result.data, progress);
        request.send();
        result.status = request.status;
        const std::size_t end = result.data.body.find("\r\n\r\n");
        ASSERT_NE(end, std::string::npos);
        head = result.data.body.substr(0, end + 4);
        wire_body = result.data.body.substr(end + 4);
    }
};

TEST_P(chunked_post, frames_the_body_exactly)
{
    const chunk_case c = GetParam();
    body_source source(pattern(c.size), c.piece);
    post_body(source);

    EXPECT_EQ(result.status, 200);
    EXPECT_EQ(result.lengths.values, std::vector<std::uint32_t>{std::uint32_t(result.data.body.size())});
    EXPECT_EQ(head.rfind("POST /echo HTTP/1.1\r\n", 0), 0u) << head;
    EXPECT_NE(head.find("\r\nTransfer-Encoding: chunked\r\n"), std::string::npos) << head;
    EXPECT_NE(head.find("\r\nContent-Type: application/x-brindlexz\r\n"), std::string::npos) << head;
    // Wine's WinHTTP always sends a Content-Length with a POST; the request
    // announces 1 there (see chunked_body_total_length).
    if (running_on_wine()) {
        EXPECT_NE(head.find("\r\nContent-Length: 1\r\n"), std::string::npos) << head;
    } else {
        EXPECT_EQ(head.find("Content-Length"), std::string::npos) << head;
    }
    EXPECT_EQ(wire_body, c.framing);
    for (std::uint32_t capacity : source.capacities)
        EXPECT_EQ(capacity, 8180u);
}

INSTANTIATE_TEST_SUITE_P(
    bodies, chunked_post,
    ::testing::Values(
        chunk_case{"empty", 0, 8180, "0\r\n\r\n"}, chunk_case{"one_byte", 1, 8180, framed(0, 1) + "0\r\n\r\n"},
        chunk_case{"one_full_chunk", 8180, 8180, "1FF4\r\n" + pattern(8180) + "\r\n0\r\n\r\n"},
        chunk_case{"full_chunk_and_one_byte", 8181, 8180, framed(0, 8180) + framed(8180, 1) + "0\r\n\r\n"},
        chunk_case{"short_reads_do_not_end_the_body", 250, 100,
                   framed(0, 100) + framed(100, 100) + framed(200, 50) + "0\r\n\r\n"},
        chunk_case{"several_chunks", 30000, 8180,
                   framed(0, 8180) + framed(8180, 8180) + framed(16360, 8180) + framed(24540, 5460) + "0\r\n\r\n"}),
    [](const auto& info) { return std::string(info.param.name); });

TEST_F(chunked_post, exception_of_read_body_reaches_the_caller_and_nothing_more_is_read)
{
    struct failing_source {
        int calls = 0;
        std::uint32_t operator()(unsigned char* destination, std::uint32_t)
        {
            if (++calls == 2)
                throw std::system_error(ERROR_READ_FAULT, std::system_category(), "report unreadable");
            std::memset(destination, 'x', 10);
            return 10;
        }
    } source;
    exchange result;
    const hopline::url where = target(1, "SCRIPT_PORT", "/echo");
    hopline::connection connection(session, 1, where.host, where.port);
    hopline::post_chunked_request<failing_source, header_recorder, length_recorder, data_recorder, unsigned> request(
        connection, where, {}, any_type, nullptr, nullptr, source, result.headers, result.lengths, result.data,
        nullptr);
    try {
        request.send();
        FAIL() << "the failure of read_body was lost";
    } catch (const std::system_error& error) {
        EXPECT_EQ(error.code().value(), ERROR_READ_FAULT);
    }
    EXPECT_EQ(source.calls, 2);
    EXPECT_TRUE(result.data.body.empty());
}

TEST_F(chunked_post, cancel_while_writing_stops_the_body)
{
    body_source source(pattern(100000), 8180);
    progress_recorder progress;
    progress.cancel_when = [&] { return source.calls >= 3; };
    try {
        post_body(source, &progress);
        FAIL() << "the upload was not cancelled";
    } catch (const fenrix::user_cancelled& error) {
        EXPECT_STREQ(error.what(), "operation cancelled");
    }
    EXPECT_EQ(source.calls, 3);
}

}  // namespace
