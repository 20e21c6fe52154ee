// Servers that trickle, stall, cut bodies short or announce lengths they
// never send: a request ends soon and says what happened, and a cancel ends
// it at once whatever the server is doing.
#include <gtest/gtest.h>

#include <cstdio>
#include <mutex>
#include <stdexcept>
#include <string>

#include "http/tests/request_recorder.hpp"

namespace {

using namespace hopline::testing;

class hostile_server : public http_test {};

// Milliseconds since `start`.
DWORD since(DWORD start)
{
    return GetTickCount() - start;
}

struct cancel_case {
    const char* name;
    const char* path;
};

class cancel_in_flight : public http_test, public ::testing::WithParamInterface<cancel_case> {};

// The server holds the request in a state where no notification comes for
// a long time (WinHTTP waits on the socket); the cancel must end it anyway.
TEST_P(cancel_in_flight, ends_the_request_within_a_second)
{
    exchange result;
    progress_recorder progress;
    DWORD start = GetTickCount();
    constexpr DWORD cancel_after = 700;
    progress.cancel_when = [&] { return since(start) >= cancel_after; };
    try {
        fetch(target(1, "SCRIPT_PORT", GetParam().path), result, &progress);
        FAIL() << "the request was not cancelled";
    } catch (const fenrix::user_cancelled& error) {
        EXPECT_STREQ(error.what(), "operation cancelled");
    }
    const DWORD taken = since(start) - cancel_after;
    std::printf("%s: cancel to return %lu ms\n", GetParam().name, static_cast<unsigned long>(taken));
    // The aim is well under a second; the bound leaves room for a loaded machine.
    EXPECT_LT(taken, 5000u);
}

INSTANTIATE_TEST_SUITE_P(cases, cancel_in_flight,
                         ::testing::Values(cancel_case{"before_the_head", "/silent"},
                                           cancel_case{"trickling_body", "/trickle/300000/4000"},
                                           cancel_case{"stalled_body", "/stall/300000/1000"}),
                         [](const auto& info) { return std::string(info.param.name); });

struct broken_case {
    const char* name;
    const char* path;
    hopline::stall_bound bound;
    const char* text;
    bool length_seen;
};

class broken_response : public http_test, public ::testing::WithParamInterface<broken_case> {};

TEST_P(broken_response, ends_with_an_error_that_names_the_fault)
{
    const broken_case c = GetParam();
    session.bound = c.bound;
    exchange result;
    const DWORD start = GetTickCount();
    try {
        fetch(target(1, "SCRIPT_PORT", c.path), result);
        FAIL() << "the request succeeded with status " << result.status << " and " << result.data.body.size()
               << " bytes";
    } catch (const std::runtime_error& error) {
        EXPECT_STREQ(error.what(), c.text);
    }
    std::printf("%s: ended after %lu ms\n", c.name, static_cast<unsigned long>(since(start)));
    EXPECT_EQ(result.lengths.values.size(), c.length_seen ? 1u : 0u);
    EXPECT_EQ(result.data.body, pattern(result.data.body.size()));
}

constexpr hopline::stall_bound short_window{2000, 1024};

INSTANTIATE_TEST_SUITE_P(
    cases, broken_response,
    ::testing::Values(broken_case{"cut_short", "/short/300000/128000", hopline::default_stall_bound,
                                  "connection closed after 128000 of 300000 bytes", true},
                      broken_case{"announced_beyond_32_bits", "/short/10000000000/1000", hopline::default_stall_bound,
                                  "connection closed after 1000 of 10000000000 bytes", false},
                      broken_case{"silent_before_the_head", "/silent", short_window,
                                  "less than 1024 bytes transferred in 2 seconds", false},
                      broken_case{"stalled_body", "/stall/400000/100000", short_window,
                                  "less than 1024 bytes transferred in 2 seconds", true},
                      // 10 bytes a second: never silent long enough for a receive time-out.
                      broken_case{"trickling_body", "/trickle/400000/100", short_window,
                                  "less than 1024 bytes transferred in 2 seconds", true}),
    [](const auto& info) { return std::string(info.param.name); });

TEST_F(hostile_server, a_transfer_that_keeps_moving_outlives_many_windows)
{
    // 4096 bytes every 250 ms for about 3 s: each window of a second sees
    // two or more of WinHTTP's 8192-byte reads complete (Wine hands over
    // nothing before a read's buffer is full), so the bound never trips
    // although the whole transfer takes several windows.
    session.bound = {1000, 1024};
    exchange result;
    fetch(target(1, "SCRIPT_PORT", "/trickle/49152/250/4096"), result);
    EXPECT_EQ(result.status, 200);
    EXPECT_EQ(result.data.body, pattern(49152));
}

TEST_F(hostile_server, progress_is_reported_before_the_next_block_arrives)
{
    // Each block's progress report comes before the next block reaches
    // on_data, even when WinHTTP completes the next read at once.
    std::mutex lock;
    std::string events;
    exchange result;
    result.data.after_block = [&](int) {
        std::lock_guard<std::mutex> guard(lock);
        events += 'd';
    };
    struct : progress_recorder {
        std::mutex* lock;
        std::string* events;
        void set(unsigned value) override
        {
            progress_recorder::set(value);
            std::lock_guard<std::mutex> guard(*lock);
            *events += 'p';
        }
    } progress;
    progress.lock = &lock;
    progress.events = &events;
    fetch(target(1, "HTTP_PORT", "/files/big.bin"), result, &progress);
    ASSERT_EQ(result.data.body, pattern(100000));
    std::string expected;
    for (int i = 0; i < result.data.calls; ++i)
        expected += "dp";
    EXPECT_EQ(events, expected);
    EXPECT_EQ(progress.values.back(), 100000u);
}

}  // namespace
