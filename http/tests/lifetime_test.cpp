// No notification may reach a request after its destruction: WinHTTP keeps
// the request's address as the context of its handle. Each case ends a
// request in another way, destroys it, poisons its storage and lets late
// notifications arrive; one that reached the storage would call through a
// poisoned virtual table and crash the test, one that reached a callable is
// counted.
#include <gtest/gtest.h>

#include <atomic>
#include <cstring>
#include <new>
#include <string>
#include <type_traits>

#include "http/tests/request_recorder.hpp"

namespace {

using namespace hopline::testing;

std::atomic<bool> destroyed{false};
std::atomic<int> late_calls{0};

void note_call()
{
    if (destroyed)
        ++late_calls;
}

struct on_header_t {
    void operator()(const char*, std::size_t) const { note_call(); }
};
struct on_length_t {
    void operator()(std::uint32_t) const { note_call(); }
};
struct on_data_t {
    int throw_at = 0;  // 0: never
    int calls = 0;
    void operator()(const unsigned char*, std::uint32_t)
    {
        note_call();
        if (++calls == throw_at)
            throw std::runtime_error("on_data failed");
    }
};
struct read_body_t {
    int throw_at = 0;
    int calls = 0;
    std::uint32_t operator()(unsigned char* destination, std::uint32_t capacity)
    {
        note_call();
        if (++calls == throw_at)
            throw std::runtime_error("read_body failed");
        std::memset(destination, 'r', capacity);
        return capacity;
    }
};

using guarded_get = hopline::get_request<on_header_t, on_length_t, on_data_t, unsigned>;
using guarded_post = hopline::post_chunked_request<read_body_t, on_header_t, on_length_t, on_data_t, unsigned>;

class request_lifetime : public http_test {
protected:
    on_header_t on_header;
    on_length_t on_length;
    on_data_t on_data;
    read_body_t read_body;
    progress_recorder progress;

    // Builds the request in storage of its own, runs `use` on it (send, or
    // nothing), destroys it and poisons the storage.
    template <class Request, class Use>
    void run(const hopline::url& where, Use use)
    {
        destroyed = false;
        late_calls = 0;
        hopline::connection connection(session, where.scheme, where.host, where.port);
        alignas(Request) unsigned char storage[sizeof(Request)];
        Request* request;
        if constexpr (std::is_same_v<Request, guarded_post>)
            request = new (storage) Request(connection, where, {}, any_type, nullptr, nullptr, read_body, on_header,
                                            on_length, on_data, &progress);
        else
            request = new (storage)
                Request(connection, where, {}, any_type, nullptr, nullptr, on_header, on_length, on_data, &progress);
        try {
            use(*request);
        } catch (const std::exception&) {
            // Each case knows its outcome; here only the aftermath counts.
        }
        request->~Request();
        destroyed = true;
        std::memset(storage, 0xDD, sizeof storage);
        // Give notifications still on their way the time to arrive.
        Sleep(50);
        EXPECT_EQ(late_calls, 0);
    }
};

constexpr int rounds = 10;

TEST_F(request_lifetime, after_on_data_throws)
{
    for (int i = 0; i < rounds; ++i) {
        on_data = on_data_t{1 + i % 3};
        run<guarded_get>(target(1, "HTTP_PORT", "/files/big.bin"), [](auto& r) { r.send(); });
    }
}

TEST_F(request_lifetime, after_the_caller_cancels)
{
    for (int i = 0; i < rounds; ++i) {
        on_data = on_data_t{};
        const int cancel_at = 1 + i % 4;
        progress.cancel_when = [&] { return on_data.calls >= cancel_at; };
        run<guarded_get>(target(1, "SCRIPT_PORT", "/stall/400000/100000"), [](auto& r) { r.send(); });
    }
}

TEST_F(request_lifetime, after_a_request_error)
{
    for (int i = 0; i < rounds; ++i)
        run<guarded_get>(target(1, "CLOSED_PORT", "/"), [](auto& r) { r.send(); });
}

TEST_F(request_lifetime, when_never_sent)
{
    for (int i = 0; i < rounds; ++i)
        run<guarded_get>(target(1, "HTTP_PORT", "/files/big.bin"), [](auto&) {});
}

TEST_F(request_lifetime, when_sending_fails_at_once)
{
    // A used request has no handle left: WinHttpSendRequest fails at once.
    for (int i = 0; i < rounds; ++i)
        run<guarded_get>(target(1, "HTTP_PORT", "/missing"), [](auto& r) {
            r.send();
            EXPECT_THROW(r.send(), wembra::http_error);
        });
}

TEST_F(request_lifetime, after_read_body_throws)
{
    for (int i = 0; i < rounds; ++i) {
        read_body = read_body_t{1 + i % 3};
        run<guarded_post>(target(1, "SCRIPT_PORT", "/echo"), [](auto& r) { r.send(); });
    }
}

}  // namespace
