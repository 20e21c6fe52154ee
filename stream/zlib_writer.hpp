// A write-only stream that deflates everything written to it into the zlib
// format (RFC 1950) and passes the compressed bytes to another stream.
#pragma once

#include <cstddef>
#include <memory>

#include <zlib.h>

#include "stream/basic.hpp"

namespace fenrix {

namespace stream {

// A stream that forwards to a wrapped stream, which it does not own and which
// must outlive it.
class converter : public basic {
public:
    explicit converter(basic& target) : basic(target.state), source(&target) {}

    std::size_t read(void* data, std::size_t length) override;
    std::size_t write(const void* data, std::size_t length) override;
    void flush() override;
    void close() override;

protected:
    basic* source;
};

}  // namespace stream

// Memory for a zlib_writer from elsewhere than the heap: zlib's state
// through `alloc` and `release` with `opaque` (zlib's zalloc, zfree and
// opaque), and an output buffer of the writer's buffer size.
struct zlib_memory {
    alloc_func alloc = nullptr;
    free_func release = nullptr;
    void* opaque = nullptr;
    unsigned char* buffer = nullptr;
};

class zlib_writer : public stream::converter {
public:
    // Level 9 with zlib's defaults otherwise: 15-bit window with the zlib
    // header and Adler-32 trailer, memory level 8, default strategy.
    explicit zlib_writer(stream::basic& target, int level = 9, std::size_t buffer_size = 4096);
    // The same, taking no memory from the heap: everything comes from `memory`.
    zlib_writer(stream::basic& target, int level, std::size_t buffer_size, const zlib_memory& memory);
    // Finishes the compressed stream; failures leave it incomplete and are
    // not reported.
    ~zlib_writer() override;
    zlib_writer(const zlib_writer&) = delete;
    zlib_writer& operator=(const zlib_writer&) = delete;

    // Returns length, or 0 once the target failed (its state is kept here).
    std::size_t write(const void* data, std::size_t length) override;

private:
    void finish();

    void init(int level);

    z_stream zstream;
    std::size_t buffer_size;
    std::unique_ptr<unsigned char[]> owned_buffer;
    unsigned char* buffer;
    // The target failed a write: the compressed stream has a gap, so nothing
    // written later may count as written.
    bool broken = false;
};

// Throws the exception that stands for a negative zlib result.
[[noreturn]] void throw_zlib_error(int result);

}  // namespace fenrix
