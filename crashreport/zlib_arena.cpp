#include "crashreport/zlib_arena.hpp"

#include <algorithm>
#include <new>
#include <stdexcept>

namespace brindlex {

namespace {

// Every piece starts at a multiple of 16 bytes from the block's start, which
// new[] aligns at least as zlib's structures need.
constexpr std::size_t alignment = 16;

std::size_t aligned(std::size_t bytes)
{
    return (bytes + alignment - 1) / alignment * alignment;
}

}  // namespace

zlib_arena::zlib_arena(std::size_t bytes) : block(new unsigned char[bytes]), size_(bytes) {}

fenrix::zlib_memory zlib_arena::take(std::size_t buffer_size)
{
    if (buffer_size > size_)
        throw std::bad_alloc();
    used_ = aligned(buffer_size);
    return {&zlib_arena::allocate, &zlib_arena::release, this, block.get()};
}

void* zlib_arena::allocate(void* opaque, unsigned items, unsigned item_size)
{
    auto* arena = static_cast<zlib_arena*>(opaque);
    const std::size_t bytes = std::size_t(items) * item_size;
    if (item_size != 0 && bytes / item_size != items)
        return nullptr;
    if (bytes > arena->size_ || arena->used_ > arena->size_ - bytes)
        return nullptr;
    void* memory = arena->block.get() + arena->used_;
    arena->used_ = std::min(arena->size_, aligned(arena->used_ + bytes));
    return memory;
}

}  // namespace brindlex
