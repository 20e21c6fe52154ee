// A basic_file kept in one growable heap block. Growth is by a quarter of the
// requested size in 64 KiB steps, so small writes reallocate rarely; a caller
// that knows the final size reserves it once.
#pragma once

#include "stream/basic.hpp"

namespace fenrix::stream {

class memory_file : public basic_file {
public:
    explicit memory_file(state_t initial = ok);
    explicit memory_file(std::size_t reserved, state_t initial = ok);
    ~memory_file() override;
    memory_file(const memory_file&) = delete;
    memory_file& operator=(const memory_file&) = delete;

    // Makes room for `required` bytes; with `tight` exactly that many,
    // shrinking too (a tight reserve of 0 frees the block).
    void reserve(std::size_t required, bool tight = false);

    std::size_t read(void* data, std::size_t length) override;
    std::size_t write(const void* data, std::size_t length) override;
    void close() override;
    std::uint64_t seek(std::int64_t offset, seek_t how = beg) override;
    std::uint64_t tell() override;
    std::uint64_t size() override;
    void truncate() override;

    // The valid bytes [0, size).
    const unsigned char* bytes() const { return data; }
    unsigned char* bytes() { return data; }
    std::size_t reserved_size() const { return reserved; }

private:
    unsigned char* data = nullptr;
    bool manage = true;
    std::size_t offset = 0;
    std::size_t size_ = 0;
    std::size_t reserved = 0;
};

}  // namespace fenrix::stream
