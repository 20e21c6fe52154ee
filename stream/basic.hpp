// The byte-stream interface: basic is a sequential stream, basic_file adds a
// position, a size, byte-range locks and file times. Streams report the
// outcome of each operation in `state` and throw only for invalid arguments,
// for operations a class does not provide, and where an operation says so.
#pragma once

#include <cstddef>
#include <cstdint>
#include <limits>

namespace fenrix::stream {

enum state_t : std::uint32_t { ok = 0, eof = 1, fail = 2 };

// The values equal the origin codes of the Windows file-pointer functions.
enum seek_t : std::uint32_t { beg = 0, cur = 1, end = 2 };

// Position and size value meaning "not available".
inline constexpr std::uint64_t npos = std::numeric_limits<std::uint64_t>::max();

// 100-nanosecond ticks since 1970-01-01 00:00 UTC; the minimum means no time.
struct time_point {
    std::int64_t ticks = std::numeric_limits<std::int64_t>::min();

    static constexpr std::int64_t file_time_offset = 116444736000000000LL;

    static constexpr time_point none() { return {}; }
    static constexpr time_point from_file_time(std::uint64_t file_time)
    {
        return {std::int64_t(file_time) - file_time_offset};
    }
    constexpr std::uint64_t to_file_time() const { return std::uint64_t(ticks + file_time_offset); }
    constexpr bool is_none() const { return ticks == std::numeric_limits<std::int64_t>::min(); }
    friend constexpr bool operator==(time_point, time_point) = default;
};

class basic {
public:
    explicit basic(state_t initial = ok) : state(initial) {}
    virtual ~basic() = default;

    virtual std::size_t read(void* data, std::size_t length);
    virtual std::size_t write(const void* data, std::size_t length);
    virtual void flush();
    virtual void close();
    virtual void skip(std::uint64_t amount);

    // Reads count elements of size bytes; returns the number of whole
    // elements that arrived.
    std::size_t read_array(void* array, std::size_t size, std::size_t count);
    // Copies up to amount bytes from source; returns the bytes written.
    std::uint64_t write_stream(basic& source, std::uint64_t amount);

    state_t state;
};

class basic_file : public virtual basic {
public:
    void skip(std::uint64_t amount) override;

    virtual std::uint64_t seek(std::int64_t offset, seek_t how = beg) = 0;
    virtual std::uint64_t tell() = 0;
    virtual void lock(std::uint64_t offset, std::uint64_t length);
    virtual void unlock(std::uint64_t offset, std::uint64_t length);
    virtual std::uint64_t size() = 0;
    // Ends the stream at the current position.
    virtual void truncate() = 0;
    virtual time_point ctime();
    virtual time_point atime();
    virtual time_point mtime();
    virtual void set_ctime(time_point t);
    virtual void set_atime(time_point t);
    virtual void set_mtime(time_point t);
};

}  // namespace fenrix::stream
