#include "stream/memory_file.hpp"

#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <new>
#include <stdexcept>

namespace fenrix::stream {

namespace {
constexpr std::size_t growth_step = 65536;
// Positions and sizes stay below 4 GiB whatever the width of size_t, so the
// block behaves the same in the 32-bit program and in native test builds.
constexpr std::uint64_t position_limit = 0x100000000ULL;
constexpr std::uint64_t growth_limit = position_limit - growth_step;
}  // namespace

memory_file::memory_file(state_t initial) : basic(initial) {}

memory_file::memory_file(std::size_t reserved_bytes, state_t initial) : basic(initial)
{
    data = static_cast<unsigned char*>(std::malloc(reserved_bytes));
    if (!data && reserved_bytes != 0) {
        state = fail;
        throw std::bad_alloc();
    }
    reserved = reserved_bytes;
}

memory_file::~memory_file()
{
    if (manage)
        std::free(data);
}

void memory_file::reserve(std::size_t required, bool tight)
{
    if (reserved >= required && !(tight && required < reserved)) {
        state = ok;
        return;
    }
    if (!manage) {
        state = fail;
        return;
    }
    std::uint64_t new_size = required;
    if (!tight) {
        new_size = std::uint64_t(required) + required / 4;
        if (new_size > growth_limit)
            throw std::invalid_argument("add overflow");
        new_size = (new_size + growth_step - 1) / growth_step * growth_step;
    }
    if (new_size == 0) {
        std::free(data);
        data = nullptr;
    } else {
        auto* grown = static_cast<unsigned char*>(std::realloc(data, std::size_t(new_size)));
        if (!grown) {
            state = fail;
            return;
        }
        data = grown;
    }
    reserved = std::size_t(new_size);
    size_ = std::min(size_, reserved);
    state = ok;
}

std::size_t memory_file::read(void* dst, std::size_t length)
{
    if (offset >= size_) {
        state = eof;
        return 0;
    }
    const std::size_t n = std::min(length, size_ - offset);
    if (n)
        std::memcpy(dst, data + offset, n);
    offset += n;
    state = ok;
    return n;
}

std::size_t memory_file::write(const void* src, std::size_t length)
{
    if (length > std::numeric_limits<std::size_t>::max() - offset)
        throw std::invalid_argument("add overflow");
    const std::size_t end_offset = offset + length;
    if (reserved < end_offset) {
        reserve(end_offset, false);
        if (state != ok)
            return 0;
    }
    if (length)
        std::memcpy(data + offset, src, length);
    offset = end_offset;
    size_ = std::max(size_, end_offset);
    state = ok;
    return length;
}

void memory_file::close()
{
    if (manage)
        std::free(data);
    data = nullptr;
    manage = true;
    offset = size_ = reserved = 0;
    state = ok;
}

std::uint64_t memory_file::seek(std::int64_t distance, seek_t how)
{
    std::int64_t base;
    switch (how) {
    case beg:
        base = 0;
        break;
    case cur:
        base = std::int64_t(offset);
        break;
    case end:
        base = std::int64_t(size_);
        break;
    default:
        throw std::invalid_argument("unknown seek origin");
    }
    // base is below 2^32, so the sum cannot overflow 64 bits unless distance
    // is near the limit; check that case before adding.
    if (distance > std::numeric_limits<std::int64_t>::max() - base)
        throw std::invalid_argument("file offset too big");
    const std::int64_t position = base + distance;
    if (position < 0)
        throw std::invalid_argument("negative file offset");
    if (std::uint64_t(position) >= position_limit)
        throw std::invalid_argument("file offset too big");
    offset = std::size_t(position);
    state = ok;
    return std::uint64_t(position);
}

std::uint64_t memory_file::tell()
{
    return offset;
}

std::uint64_t memory_file::size()
{
    return size_;
}

void memory_file::truncate()
{
    if (offset > reserved) {
        reserve(offset, false);
        if (state != ok)
            return;
    }
    size_ = offset;
    state = ok;
}

}  // namespace fenrix::stream
