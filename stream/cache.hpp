// A one-block write-back cache in front of another basic_file, so that many
// small reads and writes reach the operating system in whole blocks. Requests
// that span block boundaries pass their whole blocks straight to the source;
// only the partial blocks at either end go through the block.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>

#include "stream/basic.hpp"

#if defined(_WIN32) && __has_include("stream/file.hpp")
#define LUMORA_HAS_CACHED_FILE 1
#include "stream/file.hpp"
#endif

namespace fenrix::stream {

class cache : public basic_file {
public:
    enum status_t : std::uint32_t { empty = 0, loaded = 1, dirty = 2 };

    struct region_t {
        std::uint64_t start = 0;
        std::uint64_t end = 0;
    };

    // No source yet: the state is fail until init attaches one.
    explicit cache(std::size_t capacity);
    // A cache over a stream the caller owns and keeps alive.
    cache(basic_file& source, std::size_t capacity);
    ~cache() override;
    cache(const cache&) = delete;
    cache& operator=(const cache&) = delete;

    std::size_t read(void* data, std::size_t length) override;
    std::size_t write(const void* data, std::size_t length) override;
    void flush() override;
    // Writes back a dirty block and closes the source; throws
    // std::system_error "failed to flush cache" when the write-back fails.
    void close() override;
    std::uint64_t seek(std::int64_t offset, seek_t how = beg) override;
    std::uint64_t tell() override;
    void lock(std::uint64_t offset, std::uint64_t length) override;
    void unlock(std::uint64_t offset, std::uint64_t length) override;
    std::uint64_t size() override;
    void truncate() override;
    time_point ctime() override;
    time_point atime() override;
    time_point mtime() override;
    void set_ctime(time_point t) override;
    void set_atime(time_point t) override;
    void set_mtime(time_point t) override;

    status_t block_status() const { return status; }
    region_t block_region() const { return region; }
    std::size_t block_capacity() const { return capacity; }

protected:
    void init(basic_file& source_stream);
    // Writes a dirty block back and keeps it as loaded.
    void flush_cache();
    // Writes a dirty block back and forgets the block.
    void invalidate_cache();

    basic_file* source = nullptr;

private:
    void write_back();
    // Loads the block that holds `position`; false when the source could not
    // be positioned (state fail).
    bool load_block();
    std::size_t partial_result(std::size_t done, state_t when_nothing);

    std::unique_ptr<unsigned char[]> data;
    std::size_t capacity;
    status_t status = empty;
    region_t region;
    std::uint64_t position = 0;
};

#ifdef LUMORA_HAS_CACHED_FILE
// A cache that owns its source, a file opened by name.
class cached_file : public cache {
public:
    explicit cached_file(std::size_t capacity);
    cached_file(const wchar_t* filename, int mode, std::size_t capacity);
    ~cached_file() override;

    // Writes back what the block holds of the old file first; when that
    // fails, the state is fail and the new file is not opened.
    void open(const wchar_t* filename, int mode);

private:
    file source_file;
};
#endif

}  // namespace fenrix::stream
