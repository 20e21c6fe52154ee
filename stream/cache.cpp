#include "stream/cache.hpp"

#include <algorithm>
#include <cstring>
#include <stdexcept>

#include "stream/last_error.hpp"

namespace fenrix::stream {

cache::cache(std::size_t block_capacity) : data(new unsigned char[block_capacity]), capacity(block_capacity)
{
    if (capacity == 0)
        throw std::invalid_argument("cache block size 0");
    state = fail;
}

cache::cache(basic_file& source_stream, std::size_t block_capacity) : cache(block_capacity)
{
    init(source_stream);
}

cache::~cache()
{
    if (!source)
        return;
    try {
        flush_cache();
        if (state == ok)
            source->seek(std::int64_t(position), beg);
    } catch (...) {
        // A destructor reports nothing; the stream is gone with it.
    }
}

void cache::init(basic_file& source_stream)
{
    source = &source_stream;
    state = source->state;
    if (state != fail)
        position = source->tell();
}

void cache::write_back()
{
    source->seek(std::int64_t(region.start), beg);
    const std::uint64_t held = region.end > region.start ? region.end - region.start : 0;
    source->write(data.get(), std::size_t(held));
    state = source->state;
}

void cache::flush_cache()
{
    if (status != dirty) {
        state = ok;
        return;
    }
    if (region.start < region.end) {
        write_back();
        if (state != ok)
            return;
    }
    status = loaded;
    state = ok;
}

void cache::invalidate_cache()
{
    if (status == dirty && region.start < region.end) {
        write_back();
        if (state == ok)
            status = empty;
        return;
    }
    state = ok;
    status = empty;
}

bool cache::load_block()
{
    region.start = position - position % capacity;
    source->seek(std::int64_t(region.start), beg);
    if (source->state != ok) {
        state = fail;
        return false;
    }
    const std::size_t n = source->read(data.get(), capacity);
    status = loaded;
    region.end = region.start + n;
    state = ok;
    return true;
}

std::size_t cache::partial_result(std::size_t done, state_t when_nothing)
{
    state = done ? ok : when_nothing;
    return done;
}

std::size_t cache::read(void* dst_, std::size_t length)
{
    if (!source) {
        state = fail;
        return 0;
    }
    if (length == 0) {
        state = ok;
        return 0;
    }
    auto* dst = static_cast<unsigned char*>(dst_);
    std::size_t remaining = length;
    for (;;) {
        if (status != empty) {
            if (region.start <= position && position < region.end) {
                const std::size_t n = std::size_t(std::min<std::uint64_t>(remaining, region.end - position));
                std::memcpy(dst, data.get() + (position - region.start), n);
                position += n;
                dst += n;
                remaining -= n;
                if (remaining == 0) {
                    state = ok;
                    return length;
                }
            }
            // The position has left the held bytes.
            flush_cache();
            if (state != ok)
                break;
        }
        if ((position + remaining) / capacity > position / capacity) {
            source->seek(std::int64_t(position), beg);
            if (source->state != ok)
                return partial_result(length - remaining, fail);
            const std::size_t whole = remaining - std::size_t((position + remaining) % capacity);
            const std::size_t n = source->read(dst, whole);
            position += n;
            dst += n;
            remaining -= n;
            if (remaining == 0) {
                state = ok;
                return length;
            }
            state = source->state;
            if (state != ok)
                break;
        }
        if (!load_block())
            return partial_result(length - remaining, fail);
        if (region.end <= position)
            return partial_result(length - remaining, eof);
    }
    if (length != remaining)
        state = ok;
    return length - remaining;
}

std::size_t cache::write(const void* src_, std::size_t length)
{
    if (!source) {
        state = fail;
        return 0;
    }
    auto* src = static_cast<const unsigned char*>(src_);
    std::size_t remaining = length;
    for (;;) {
        if (status != empty && region.start <= position && position < region.start + capacity) {
            const std::uint64_t room = region.start + capacity - position;
            if (remaining <= room) {
                std::memcpy(data.get() + (position - region.start), src, remaining);
                position += remaining;
                status = dirty;
                region.end = std::max(region.end, position);
                state = ok;
                return length;
            }
            std::memcpy(data.get() + (position - region.start), src, std::size_t(room));
            position += room;
            src += room;
            remaining -= std::size_t(room);
            region.end = region.start + capacity;
            status = dirty;
        }
        if (status != empty) {
            // The position has left the block.
            flush_cache();
            if (state != ok)
                return length - remaining;
        }
        if ((position + remaining) / capacity > position / capacity) {
            source->seek(std::int64_t(position), beg);
            if (source->state != ok)
                return partial_result(length - remaining, fail);
            const std::size_t whole = remaining - std::size_t((position + remaining) % capacity);
            // A clean block inside the range written directly would go stale.
            if (status != empty && region.start < position + whole && position < region.start + capacity)
                status = empty;
            const std::size_t n = source->write(src, whole);
            position += n;
            src += n;
            remaining -= n;
            state = source->state;
            if (remaining == 0 || state != ok)
                return length - remaining;
        }
        if (!load_block())
            return length - remaining;
    }
}

void cache::flush()
{
    if (!source) {
        state = fail;
        return;
    }
    flush_cache();
    if (state == ok) {
        source->flush();
        state = source->state;
    }
}

void cache::close()
{
    if (!source) {
        state = fail;
        return;
    }
    if (status == dirty && region.start < region.end) {
        write_back();
        if (state != ok)
            throw_last_os_error("failed to flush cache");
    }
    status = empty;
    source->close();
    state = source->state;
}

std::uint64_t cache::seek(std::int64_t offset, seek_t how)
{
    state = ok;
    std::int64_t result;
    switch (how) {
    case beg:
        result = offset;
        break;
    case cur:
        result = std::int64_t(position) + offset;
        break;
    case end: {
        const std::uint64_t total = size();
        if (total == npos) {
            state = fail;
            return npos;
        }
        result = std::int64_t(total) + offset;
        break;
    }
    default:
        throw std::invalid_argument("unknown seek origin");
    }
    if (result < 0)
        throw std::invalid_argument("negative file offset");
    position = std::uint64_t(result);
    return position;
}

std::uint64_t cache::tell()
{
    return position;
}

void cache::lock(std::uint64_t offset, std::uint64_t length)
{
    source->lock(offset, length);
    state = source->state;
}

void cache::unlock(std::uint64_t offset, std::uint64_t length)
{
    source->unlock(offset, length);
    state = source->state;
}

std::uint64_t cache::size()
{
    if (!source)
        return npos;
    const std::uint64_t source_size = source->size();
    if (status == empty)
        return source_size;
    return std::max(source_size, region.end);
}

void cache::truncate()
{
    if (!source) {
        state = fail;
        return;
    }
    source->seek(std::int64_t(position), beg);
    if (position < region.end) {
        if (position < region.start)
            status = empty;
        else
            region.end = position;
    }
    source->truncate();
    state = source->state;
}

time_point cache::ctime()
{
    return source ? source->ctime() : time_point::none();
}

time_point cache::atime()
{
    return source ? source->atime() : time_point::none();
}

time_point cache::mtime()
{
    return source ? source->mtime() : time_point::none();
}

void cache::set_ctime(time_point t)
{
    source->set_ctime(t);
}

void cache::set_atime(time_point t)
{
    source->set_atime(t);
}

void cache::set_mtime(time_point t)
{
    source->set_mtime(t);
}

#ifdef LUMORA_HAS_CACHED_FILE
cached_file::cached_file(std::size_t block_capacity) : cache(block_capacity)
{
    init(source_file);
}

cached_file::cached_file(const wchar_t* filename, int mode, std::size_t block_capacity) : cache(block_capacity)
{
    source_file.open(filename, mode);
    init(source_file);
}

cached_file::~cached_file()
{
    if (!source)
        return;
    try {
        if (source->state != fail) {
            flush_cache();
            if (state == ok)
                source->seek(std::int64_t(tell()), beg);
        }
    } catch (...) {
        // A destructor reports nothing.
    }
    source = nullptr;
}

void cached_file::open(const wchar_t* filename, int mode)
{
    invalidate_cache();
    if (state != ok) {
        state = fail;
        return;
    }
    source_file.open(filename, mode);
    init(source_file);
}
#endif

}  // namespace fenrix::stream
