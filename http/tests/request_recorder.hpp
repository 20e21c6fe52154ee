// What the tests hand to requests: callables and a progress object that
// record every call, and a helper that runs one GET or POST and keeps it all.
#pragma once

#include <gtest/gtest.h>

#include <atomic>
#include <cstdint>
#include <functional>
#include <string>
#include <vector>

#include "http/get_request.hpp"
#include "http/post_chunked_request.hpp"
#include "http/session.hpp"
#include "http/tests/servers/test_servers.hpp"

namespace hopline::testing {

struct header_recorder {
    std::vector<std::string> lines;
    void operator()(const char* line, std::size_t length) { lines.emplace_back(line, length); }
};

struct length_recorder {
    std::vector<std::uint32_t> values;
    void operator()(std::uint32_t value) { values.push_back(value); }
};

struct data_recorder {
    std::string body;
    int calls = 0;
    // Runs after each block has been recorded; tests throw from it.
    std::function<void(int call)> after_block;
    void operator()(const unsigned char* data, std::uint32_t count)
    {
        EXPECT_GT(count, 0u);
        body.append(reinterpret_cast<const char*>(data), count);
        ++calls;
        if (after_block)
            after_block(calls);
    }
};

struct progress_recorder : fenrix::progress<unsigned> {
    std::vector<std::pair<unsigned, unsigned>> ranges;
    std::vector<unsigned> values;
    // cancel() answers what this says; a default object never cancels.
    std::function<bool()> cancel_when;
    std::atomic<int> cancel_polls{0};
    std::atomic<int> cancels{0};

    void set_range(unsigned start, unsigned end) override { ranges.emplace_back(start, end); }
    void set(unsigned value) override { values.push_back(value); }
    bool cancel() override
    {
        ++cancel_polls;
        const bool answer = cancel_when && cancel_when();
        cancels += answer;
        return answer;
    }
};

struct exchange {
    header_recorder headers;
    length_recorder lengths;
    data_recorder data;
    std::uint16_t status = 0;
};

using get = get_request<header_recorder, length_recorder, data_recorder, unsigned>;

inline const char* const any_type[] = {"*/*", nullptr};

inline bool running_on_wine()
{
    return GetProcAddress(GetModuleHandleW(L"ntdll.dll"), "wine_get_version") != nullptr;
}

// Session and connections for one test; servers from the fixture.
class http_test : public ::testing::Test {
protected:
    hopline::session session{"Lumora http tests"};
    test_servers servers;

    url target(std::int32_t scheme, const char* port_key, const char* path, const char* user = "",
               const char* password = "") const
    {
        return url(scheme, servers.port(port_key), "127.0.0.1", user, password, path);
    }

    // One GET; the exchange keeps what the callables saw.
    void fetch(const url& where, exchange& result, fenrix::progress<unsigned>* progress = nullptr,
               const header_map& headers = {})
    {
        hopline::connection connection(session, where.scheme, where.host, where.port);
        get request(connection, where, headers, any_type, nullptr, nullptr, result.headers, result.lengths, result.data,
                    progress);
        request.send();
        result.status = request.status;
    }
};

}  // namespace hopline::testing
