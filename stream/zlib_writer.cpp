#include "stream/zlib_writer.hpp"

#include <algorithm>
#include <cerrno>
#include <climits>
#include <cstring>
#include <new>
#include <stdexcept>
#include <system_error>

#include "stream/last_error.hpp"

namespace fenrix {

namespace stream {

std::size_t converter::read(void* data, std::size_t length)
{
    const std::size_t n = source->read(data, length);
    state = source->state;
    return n;
}

std::size_t converter::write(const void* data, std::size_t length)
{
    const std::size_t n = source->write(data, length);
    state = source->state;
    return n;
}

void converter::flush()
{
    source->flush();
    state = source->state;
}

void converter::close()
{
    source->close();
    state = source->state;
}

}  // namespace stream

void throw_zlib_error(int result)
{
    switch (result) {
    case Z_VERSION_ERROR:
        throw std::runtime_error("zlib version error");
    case Z_BUF_ERROR:
        throw std::runtime_error("zlib buffer error");
    case Z_MEM_ERROR:
        throw std::bad_alloc();
    case Z_DATA_ERROR:
        throw std::runtime_error("zlib data error");
    case Z_STREAM_ERROR:
        throw std::runtime_error("zlib stream error");
    case Z_ERRNO:
        throw std::system_error(errno, std::system_category(), "zlib failed with errno");
    default:
        throw std::runtime_error("zlib unknown error");
    }
}

zlib_writer::zlib_writer(stream::basic& target, int level, std::size_t size)
    : converter(target), buffer_size(size), owned_buffer(new unsigned char[size]), buffer(owned_buffer.get())
{
    std::memset(&zstream, 0, sizeof zstream);
    init(level);
}

zlib_writer::zlib_writer(stream::basic& target, int level, std::size_t size, const zlib_memory& memory)
    : converter(target), buffer_size(size), buffer(memory.buffer)
{
    if (!memory.alloc || !memory.release || !memory.buffer)
        throw std::invalid_argument("zlib_writer: incomplete memory");
    std::memset(&zstream, 0, sizeof zstream);
    zstream.zalloc = memory.alloc;
    zstream.zfree = memory.release;
    zstream.opaque = memory.opaque;
    init(level);
}

void zlib_writer::init(int level)
{
    const int result = deflateInit(&zstream, level);
    if (result < 0)
        throw_zlib_error(result);
}

zlib_writer::~zlib_writer()
{
    try {
        finish();
    } catch (...) {
        // The compressed stream stays incomplete; a destructor reports nothing.
    }
    // Released also after a failed finish, so that a failing target leaks
    // nothing.
    deflateEnd(&zstream);
}

std::size_t zlib_writer::write(const void* data, std::size_t length)
{
    if (broken) {
        state = stream::fail;
        return 0;
    }
    if (length == 0) {
        state = stream::ok;
        return 0;
    }
    auto* input = static_cast<const unsigned char*>(data);
    std::size_t remaining = length;
    while (remaining > 0) {
        // zlib counts input in uInt; wider size_t values go in pieces.
        const uInt piece = uInt(std::min<std::size_t>(remaining, UINT_MAX));
        zstream.next_in = const_cast<Bytef*>(input);
        zstream.avail_in = piece;
        do {
            zstream.next_out = buffer;
            zstream.avail_out = uInt(buffer_size);
            const int result = deflate(&zstream, Z_NO_FLUSH);
            if (result < 0)
                throw_zlib_error(result);
            const std::size_t produced = buffer_size - zstream.avail_out;
            if (produced > 0) {
                source->write(buffer, produced);
                if (source->state != stream::ok) {
                    broken = true;
                    state = source->state;
                    return 0;
                }
            }
        } while (zstream.avail_out == 0);
        input += piece;
        remaining -= piece;
    }
    state = stream::ok;
    return length;
}

void zlib_writer::finish()
{
    if (broken)
        return;
    zstream.avail_in = 0;
    zstream.next_in = nullptr;
    do {
        zstream.next_out = buffer;
        zstream.avail_out = uInt(buffer_size);
        const int result = deflate(&zstream, Z_FINISH);
        if (result < 0)
            throw_zlib_error(result);
        source->write(buffer, buffer_size - zstream.avail_out);
        if (source->state != stream::ok)
            stream::throw_last_os_error("failed to flush compressed stream");
    } while (zstream.avail_out == 0);
}

}  // namespace fenrix
