#include "stream/basic.hpp"

#include <algorithm>
#include <cstdlib>
#include <memory>
#include <new>
#include <stdexcept>

#include "stream/last_error.hpp"

namespace fenrix::stream {

namespace {
constexpr std::size_t scratch_limit = 65536;

struct free_deleter {
    void operator()(void* p) const { std::free(p); }
};
using scratch_buffer = std::unique_ptr<unsigned char, free_deleter>;
}  // namespace

std::size_t basic::read(void*, std::size_t)
{
    state = fail;
    return 0;
}

std::size_t basic::write(const void*, std::size_t)
{
    state = fail;
    return 0;
}

void basic::flush()
{
    state = ok;
}

void basic::close()
{
    state = ok;
}

void basic::skip(std::uint64_t amount)
{
    unsigned char scratch;
    if (amount == 1) {
        if (read_array(&scratch, 1, 1) != 1)
            throw_last_os_error("failed to read");
        return;
    }
    if (amount < 16) {
        for (; amount > 0; --amount) {
            if (read_array(&scratch, 1, 1) != 1)
                throw_last_os_error("failed to read");
            if (state != ok)
                return;
        }
        return;
    }
    const std::size_t buffer_size = std::size_t(std::min<std::uint64_t>(amount, scratch_limit));
    scratch_buffer buffer(static_cast<unsigned char*>(std::malloc(buffer_size)));
    if (!buffer) {
        state = fail;
        return;
    }
    while (amount > 0) {
        const std::size_t chunk = std::size_t(std::min<std::uint64_t>(amount, buffer_size));
        for (std::size_t done = 0; done < chunk;) {
            done += read(buffer.get() + done, chunk - done);
            if (state != ok)
                return;
        }
        amount -= chunk;
    }
}

std::size_t basic::read_array(void* array, std::size_t size, std::size_t count)
{
    if (size != 0 && count > std::numeric_limits<std::size_t>::max() / size)
        throw std::invalid_argument("multiply overflow");
    const std::size_t total = size * count;
    auto* out = static_cast<unsigned char*>(array);
    std::size_t remaining = total - read(out, total);
    while (remaining > 0 && state == ok)
        remaining -= read(out + (total - remaining), remaining);
    if (remaining == 0)
        return count;
    // Only whole elements count: an element that arrived in part is missing.
    return (total - remaining) / size;
}

std::uint64_t basic::write_stream(basic& source, std::uint64_t amount)
{
    const std::size_t buffer_size = std::size_t(std::min<std::uint64_t>(amount, scratch_limit));
    scratch_buffer buffer(static_cast<unsigned char*>(std::malloc(buffer_size ? buffer_size : 1)));
    if (!buffer)
        throw std::bad_alloc();
    state = ok;
    std::uint64_t total = 0;
    while (amount > 0) {
        const std::size_t n = source.read(buffer.get(), std::size_t(std::min<std::uint64_t>(amount, buffer_size)));
        const std::size_t w = write(buffer.get(), n);
        total += w;
        amount -= w;
        // A write that fails or falls short must not be reported as success
        // by copying the source's state over it.
        if (state != ok || w != n) {
            state = fail;
            break;
        }
        if (source.state == eof || (n == 0 && source.state == ok)) {
            state = ok;
            break;
        }
        state = source.state;
        if (state != ok)
            break;
    }
    return total;
}

void basic_file::skip(std::uint64_t amount)
{
    if (amount > std::uint64_t(std::numeric_limits<std::int64_t>::max()))
        throw std::invalid_argument("file offset too big");
    seek(std::int64_t(amount), cur);
}

void basic_file::lock(std::uint64_t, std::uint64_t)
{
    throw std::domain_error("not implemented");
}

void basic_file::unlock(std::uint64_t, std::uint64_t)
{
    throw std::domain_error("not implemented");
}

time_point basic_file::ctime()
{
    return time_point::none();
}

time_point basic_file::atime()
{
    return time_point::none();
}

time_point basic_file::mtime()
{
    return time_point::none();
}

void basic_file::set_ctime(time_point)
{
    throw std::domain_error("not implemented");
}

void basic_file::set_atime(time_point)
{
    throw std::domain_error("not implemented");
}

void basic_file::set_mtime(time_point)
{
    throw std::domain_error("not implemented");
}

}  // namespace fenrix::stream
