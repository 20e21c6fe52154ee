#include "stream/zlib_writer.hpp"

#include <gtest/gtest.h>

#include <zlib.h>

#include <algorithm>
#include <memory>
#include <new>
#include <stdexcept>
#include <string>
#include <system_error>
#include <vector>

#include "stream/memory_file.hpp"

namespace {
using fenrix::zlib_writer;
using namespace fenrix::stream;

// A target that keeps what it receives, records the size of every write and
// can be made to fail after a number of writes.
class target_stream : public basic {
public:
    std::size_t write(const void* data, std::size_t length) override
    {
        if (writes.size() >= fail_after) {
            state = fail;
            return 0;
        }
        writes.push_back(length);
        bytes.append(static_cast<const char*>(data), length);
        state = ok;
        return length;
    }
    std::string bytes;
    std::vector<std::size_t> writes;
    std::size_t fail_after = SIZE_MAX;
};

std::string inflate_all(const std::string& compressed)
{
    z_stream z{};
    EXPECT_EQ(inflateInit(&z), Z_OK);
    std::string out;
    char buffer[65536];
    z.next_in = reinterpret_cast<Bytef*>(const_cast<char*>(compressed.data()));
    z.avail_in = uInt(compressed.size());
    int result;
    do {
        z.next_out = reinterpret_cast<Bytef*>(buffer);
        z.avail_out = sizeof buffer;
        result = inflate(&z, Z_NO_FLUSH);
        out.append(buffer, sizeof buffer - z.avail_out);
    } while (result == Z_OK);
    EXPECT_EQ(result, Z_STREAM_END) << "the stream is complete";
    EXPECT_EQ(z.avail_in, 0u) << "nothing follows the stream";
    inflateEnd(&z);
    return out;
}

TEST(zlib_writer, nothing_written_is_a_complete_empty_stream)
{
    target_stream target;
    {
        zlib_writer writer(target);
    }
    ASSERT_GE(target.bytes.size(), 2u);
    EXPECT_EQ(static_cast<unsigned char>(target.bytes[0]), 0x78) << "zlib header of a 32 KiB window";
    EXPECT_EQ(static_cast<unsigned char>(target.bytes[1]), 0xDA) << "header flags of level 9";
    EXPECT_EQ(inflate_all(target.bytes), "");
}

TEST(zlib_writer, one_mebibyte_of_zeros_in_target_writes_of_at_most4096)
{
    target_stream target;
    const std::string zeros(1 << 20, '\0');
    {
        zlib_writer writer(target);
        for (std::size_t i = 0; i < zeros.size(); i += 65536)
            ASSERT_EQ(writer.write(zeros.data() + i, 65536), 65536u);
        EXPECT_EQ(writer.state, ok);
    }
    EXPECT_EQ(inflate_all(target.bytes), zeros);
    EXPECT_LE(*std::max_element(target.writes.begin(), target.writes.end()), 4096u);
}

TEST(zlib_writer, incompressible_data_fills_many_buffers)
{
    target_stream target;
    std::string noise(200000, '\0');
    unsigned state = 12345;
    for (char& c : noise) {
        state = state * 1103515245u + 12345u;
        c = char(state >> 23);
    }
    {
        zlib_writer writer(target);
        EXPECT_EQ(writer.write(noise.data(), noise.size()), noise.size());
    }
    EXPECT_GT(target.writes.size(), 40u);
    EXPECT_LE(*std::max_element(target.writes.begin(), target.writes.end()), 4096u);
    EXPECT_EQ(inflate_all(target.bytes), noise);
}

TEST(zlib_writer, starts_failed_over_a_failed_target)
{
    memory_file target(fail);
    zlib_writer writer(target);
    EXPECT_EQ(writer.state, fail);
}

TEST(zlib_writer, failing_target_makes_write_return_zero)
{
    target_stream target;
    target.fail_after = 0;
    std::string noise(100000, '\0');
    for (std::size_t i = 0; i < noise.size(); ++i)
        noise[i] = char(i * 2654435761u >> 13);
    zlib_writer writer(target);
    EXPECT_EQ(writer.write(noise.data(), noise.size()), 0u);
    EXPECT_EQ(writer.state, fail);
    EXPECT_EQ(writer.write("x", 1), 0u) << "a writer whose target failed writes nothing more";
}

TEST(zlib_writer, writing_nothing_is_ok)
{
    target_stream target;
    zlib_writer writer(target);
    EXPECT_EQ(writer.write(nullptr, 0), 0u);
    EXPECT_EQ(writer.state, ok);
    EXPECT_TRUE(target.writes.empty());
}

TEST(zlib_writer, flush_and_close_leave_the_compressor_alone)
{
    target_stream target;
    {
        zlib_writer writer(target);
        writer.write("hello", 5);
        const std::size_t before = target.bytes.size();
        writer.flush();
        writer.close();
        EXPECT_EQ(target.bytes.size(), before) << "compressed data is held until the end";
    }
    EXPECT_EQ(inflate_all(target.bytes), "hello");
}

TEST(zlib_writer, error_table)
{
    EXPECT_THROW(fenrix::throw_zlib_error(Z_MEM_ERROR), std::bad_alloc);
    EXPECT_THROW(fenrix::throw_zlib_error(Z_ERRNO), std::system_error);
    const std::pair<int, const char*> texts[] = {
        {Z_VERSION_ERROR, "zlib version error"}, {Z_BUF_ERROR, "zlib buffer error"}, {Z_DATA_ERROR, "zlib data error"},
        {Z_STREAM_ERROR, "zlib stream error"},   {-99, "zlib unknown error"},
    };
    for (auto [code, text] : texts) {
        try {
            fenrix::throw_zlib_error(code);
            ADD_FAILURE() << code;
        } catch (const std::runtime_error& e) {
            EXPECT_STREQ(e.what(), text);
        }
    }
}

// Memory handed to a writer: zlib's state comes from `alloc` and goes back
// through `release`, and the output passes through the buffer given.
struct counted_pool {
    static void* alloc(void* opaque, unsigned items, unsigned size)
    {
        auto* pool = static_cast<counted_pool*>(opaque);
        const std::size_t bytes = (std::size_t(items) * size + 15) / 16 * 16;
        if (pool->used + bytes > sizeof pool->block)
            return nullptr;
        ++pool->allocations;
        void* memory = pool->block + pool->used;
        pool->used += bytes;
        return memory;
    }
    static void release(void* opaque, void*) { ++static_cast<counted_pool*>(opaque)->releases; }

    alignas(16) unsigned char block[300 * 1024];
    std::size_t used = 0;
    int allocations = 0;
    int releases = 0;
};

TEST(zlib_writer, given_memory_holds_the_whole_compressor)
{
    auto pool = std::make_unique<counted_pool>();
    std::vector<unsigned char> buffer(1000, 0xEE);
    target_stream target;
    std::string text;
    for (int i = 0; i < 20000; ++i)
        text += std::to_string(i * 7919 % 10007);
    {
        zlib_writer writer(
            target, 9, buffer.size(),
            fenrix::zlib_memory{&counted_pool::alloc, &counted_pool::release, pool.get(), buffer.data()});
        EXPECT_EQ(writer.write(text.data(), text.size()), text.size());
    }
    EXPECT_EQ(inflate_all(target.bytes), text);
    EXPECT_GT(pool->allocations, 0) << "zlib's state came from the pool";
    EXPECT_EQ(pool->releases, pool->allocations) << "and went back to it";
    for (std::size_t written : target.writes)
        EXPECT_LE(written, buffer.size()) << "output passes through the given buffer";
    EXPECT_TRUE(std::count(buffer.begin(), buffer.end(), 0xEE) < 1000) << "the given buffer was used";

    // Too little memory fails the writer as the heap would.
    auto small = std::make_unique<counted_pool>();
    small->used = sizeof small->block - 1024;
    EXPECT_THROW(
        zlib_writer(target, 9, buffer.size(),
                    fenrix::zlib_memory{&counted_pool::alloc, &counted_pool::release, small.get(), buffer.data()}),
        std::bad_alloc);
    EXPECT_THROW(zlib_writer(target, 9, buffer.size(), fenrix::zlib_memory{}), std::invalid_argument);
}

TEST(zlib_writer, invalid_level_is_a_stream_error)
{
    target_stream target;
    EXPECT_THROW(zlib_writer(target, 42), std::runtime_error);
}

}  // namespace
