// Memory reserved at start-up from which one zlib_writer at a time takes its
// compression state and output buffer. A report is written on the faulting
// thread when no crash worker can run, where the heap may be what failed:
// with the arena, writing it allocates nothing.
#pragma once

#include <cstddef>
#include <memory>

#include "stream/zlib_writer.hpp"

namespace brindlex {

class zlib_arena {
public:
    explicit zlib_arena(std::size_t bytes);
    zlib_arena(const zlib_arena&) = delete;
    zlib_arena& operator=(const zlib_arena&) = delete;

    // The memory of the next writer, whose output buffer is the arena's
    // first `buffer_size` bytes. The arena is emptied first: the writer that
    // had it before must be gone. When zlib asks for more than is left, it
    // gets nothing and the writer fails (std::bad_alloc).
    fenrix::zlib_memory take(std::size_t buffer_size);

    // Bytes handed out since the last take, the buffer included.
    std::size_t used() const { return used_; }
    std::size_t size() const { return size_; }

private:
    static void* allocate(void* arena, unsigned items, unsigned item_size);
    static void release(void*, void*) {}

    std::unique_ptr<unsigned char[]> block;
    std::size_t size_;
    std::size_t used_ = 0;
};

}  // namespace brindlex
