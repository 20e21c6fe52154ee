#include "stream/cache.hpp"

#include <gtest/gtest.h>

#include <cstring>
#include <numeric>
#include <stdexcept>
#include <string>
#include <system_error>
#include <vector>

#include "stream/memory_file.hpp"

namespace {
using namespace fenrix::stream;

// A memory file that records every transfer that reaches it and can be told
// to fail its writes, so the tests see what the cache passes through.
class recording_file : public memory_file {
public:
    struct transfer {
        std::uint64_t offset;
        std::size_t length;
        friend bool operator==(const transfer&, const transfer&) = default;
    };

    std::size_t read(void* data, std::size_t length) override
    {
        reads.push_back({tell(), length});
        return memory_file::read(data, length);
    }
    std::size_t write(const void* data, std::size_t length) override
    {
        if (fail_writes) {
            state = fail;
            return 0;
        }
        writes.push_back({tell(), length});
        return memory_file::write(data, length);
    }
    std::string content()
    {
        return std::string(reinterpret_cast<const char*>(bytes()), std::size_t(memory_file::size()));
    }

    std::vector<transfer> reads, writes;
    bool fail_writes = false;
};

std::string pattern(std::size_t n, int seed = 0)
{
    std::string s(n, '\0');
    for (std::size_t i = 0; i < n; ++i)
        s[i] = char('a' + (i * 7 + seed) % 26);
    return s;
}

constexpr std::size_t block = 4096;

TEST(cache, small_write_stays_in_the_block_until_flush)
{
    recording_file f;
    {
        cache c(f, block);
        EXPECT_EQ(c.write("0123456789", 10), 10u);
        EXPECT_EQ(c.block_status(), cache::dirty);
        EXPECT_EQ(c.block_region().start, 0u);
        EXPECT_EQ(c.block_region().end, 10u);
        EXPECT_TRUE(f.writes.empty());
        EXPECT_EQ(f.reads.size(), 1u) << "the block is read before it is written into";
        EXPECT_EQ(c.size(), 10u) << "the size counts bytes not yet written back";
        c.flush();
        EXPECT_EQ(c.state, ok);
        ASSERT_EQ(f.writes.size(), 1u);
        EXPECT_EQ(f.writes[0], (recording_file::transfer{0, 10}));
        EXPECT_EQ(c.block_status(), cache::loaded);
    }
    EXPECT_EQ(f.content(), "0123456789");
    EXPECT_EQ(f.writes.size(), 1u) << "a clean block is not written again";
}

TEST(cache, destruction_writes_back_and_positions_the_source)
{
    recording_file f;
    {
        cache c(f, block);
        c.write("abc", 3);
    }
    EXPECT_EQ(f.content(), "abc");
    EXPECT_EQ(f.tell(), 3u);
}

TEST(cache, large_write_passes_whole_blocks_through)
{
    recording_file f;
    const std::string text = pattern(10000);
    {
        cache c(f, block);
        c.seek(100);
        EXPECT_EQ(c.write(text.data(), text.size()), 10000u);
        ASSERT_EQ(f.writes.size(), 1u);
        EXPECT_EQ(f.writes[0], (recording_file::transfer{100, 8092}));
        EXPECT_EQ(c.block_status(), cache::dirty);
        EXPECT_EQ(c.block_region().start, 8192u);
        EXPECT_EQ(c.block_region().end, 10100u);
        EXPECT_EQ(c.tell(), 10100u);
    }
    EXPECT_EQ(f.content().substr(100), text);
}

TEST(cache, large_read_passes_whole_blocks_through)
{
    recording_file f;
    const std::string text = pattern(20000);
    f.write(text.data(), text.size());
    f.reads.clear();
    f.seek(0);
    cache c(f, block);
    std::string got(10000, '\0');
    EXPECT_EQ(c.read(got.data(), got.size()), 10000u);
    EXPECT_EQ(c.state, ok);
    EXPECT_EQ(got, text.substr(0, 10000));
    ASSERT_EQ(f.reads.size(), 2u);
    EXPECT_EQ(f.reads[0], (recording_file::transfer{0, 8192}));
    EXPECT_EQ(f.reads[1], (recording_file::transfer{8192, block}));
    EXPECT_EQ(c.block_region().start, 8192u);
}

TEST(cache, reads_across_the_end_and_at_the_end)
{
    recording_file f;
    f.write("hello", 5);
    f.seek(0);
    cache c(f, block);
    char got[16] = {};
    EXPECT_EQ(c.read(got, sizeof got), 5u);
    EXPECT_EQ(c.state, ok);
    EXPECT_STREQ(got, "hello");
    EXPECT_EQ(c.read(got, sizeof got), 0u);
    EXPECT_EQ(c.state, fenrix::stream::eof);
}

TEST(cache, read_sees_bytes_of_a_dirty_block)
{
    recording_file f;
    cache c(f, block);
    c.write("dirty bytes", 11);
    c.seek(0);
    char got[12] = {};
    EXPECT_EQ(c.read(got, 11), 11u);
    EXPECT_STREQ(got, "dirty bytes");
    EXPECT_TRUE(f.writes.empty());
}

TEST(cache, seek_to_end_appends_after_the_cached_size)
{
    recording_file f;
    {
        cache c(f, block);
        c.write("abc", 3);
        EXPECT_EQ(c.seek(0, end), 3u);
        c.write("def", 3);
    }
    EXPECT_EQ(f.content(), "abcdef");
}

TEST(cache, seek_errors)
{
    recording_file f;
    cache c(f, block);
    EXPECT_THROW(c.seek(-1, cur), std::invalid_argument);
    EXPECT_THROW(c.seek(0, seek_t(3)), std::invalid_argument);
    EXPECT_EQ(c.seek(5, cur), 5u);
    EXPECT_EQ(c.seek(-2, cur), 3u);
}

TEST(cache, truncate_inside_a_dirty_block_shortens_its_region)
{
    recording_file f;
    {
        cache c(f, block);
        c.write("0123456789", 10);
        c.seek(4);
        c.truncate();
        EXPECT_EQ(c.state, ok);
        EXPECT_EQ(c.block_status(), cache::dirty);
        EXPECT_EQ(c.block_region().end, 4u);
        EXPECT_EQ(c.size(), 4u);
    }
    EXPECT_EQ(f.content(), "0123");
}

TEST(cache, truncate_before_the_block_drops_it)
{
    recording_file f;
    const std::string text = pattern(6000);
    f.write(text.data(), text.size());
    f.seek(0);
    cache c(f, block);
    c.seek(5000);
    char byte;
    c.read(&byte, 1);
    EXPECT_EQ(c.block_region().start, 4096u);
    c.seek(100);
    c.truncate();
    EXPECT_EQ(c.block_status(), cache::empty);
    EXPECT_EQ(c.size(), 100u);
}

// A clean block lying inside a range that a large write passes straight to
// the source must not serve the old bytes afterwards.
TEST(cache, direct_write_over_a_held_block_drops_it)
{
    recording_file f;
    const std::string old_text = pattern(8192, 1);
    f.write(old_text.data(), old_text.size());
    f.seek(0);
    cache c(f, block);
    c.seek(5000);
    char byte;
    c.read(&byte, 1);
    ASSERT_EQ(c.block_region().start, 4096u);
    const std::string new_text = pattern(8192, 2);
    c.seek(0);
    EXPECT_EQ(c.write(new_text.data(), new_text.size()), 8192u);
    std::string got(10, '\0');
    c.seek(5000);
    EXPECT_EQ(c.read(got.data(), got.size()), 10u);
    EXPECT_EQ(got, new_text.substr(5000, 10));
}

TEST(cache, many_small_writes_reach_the_source_in_blocks)
{
    recording_file f;
    const std::string text = pattern(3 * block + 10);
    {
        cache c(f, block);
        for (char ch : text)
            ASSERT_EQ(c.write(&ch, 1), 1u);
    }
    EXPECT_EQ(f.content(), text);
    ASSERT_EQ(f.writes.size(), 4u);
    for (std::size_t i = 0; i < 3; ++i)
        EXPECT_EQ(f.writes[i], (recording_file::transfer{i * block, block}));
    EXPECT_EQ(f.writes[3], (recording_file::transfer{3 * block, 10}));
}

TEST(cache, close_throws_when_the_block_cannot_be_written_back)
{
    recording_file f;
    cache c(f, block);
    c.write("abc", 3);
    f.fail_writes = true;
    EXPECT_THROW(c.close(), std::system_error);
    EXPECT_EQ(c.block_status(), cache::dirty);
    f.fail_writes = false;
    c.close();
    EXPECT_EQ(c.state, ok);
    EXPECT_EQ(c.block_status(), cache::empty);
}

TEST(cache, failing_source_gives_short_counts_and_keeps_the_block_dirty)
{
    recording_file f;
    cache c(f, block);
    c.write("abc", 3);
    f.fail_writes = true;
    c.flush();
    EXPECT_EQ(c.state, fail);
    EXPECT_EQ(c.block_status(), cache::dirty);
    const std::string text = pattern(2 * block);
    EXPECT_EQ(c.write(text.data(), text.size()), block - 3) << "only the part that fits the block is taken";
    EXPECT_EQ(c.state, fail);
}

TEST(cache, without_source_the_state_is_fail)
{
    cache c(block);
    EXPECT_EQ(c.state, fail);
    char byte = 0;
    EXPECT_EQ(c.write(&byte, 1), 0u);
    EXPECT_EQ(c.read(&byte, 1), 0u);
    EXPECT_EQ(c.state, fail);
}

}  // namespace

#ifdef LUMORA_HAS_CACHED_FILE
#include <filesystem>
#include <fstream>
#include <iterator>

namespace {

std::string file_content(const std::filesystem::path& path)
{
    std::ifstream in(path, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

TEST(cached_file, opening_a_second_file_writes_back_the_first)
{
    const auto folder =
        std::filesystem::temp_directory_path() / ("cached-file-" + std::to_string(GetCurrentProcessId()));
    std::filesystem::create_directories(folder);
    const auto first = folder / "first.bin", second = folder / "second.bin";
    {
        cached_file f(first.c_str(), mode_read | mode_write | mode_create_always, block);
        ASSERT_EQ(f.state, ok);
        f.write("first", 5);
        EXPECT_EQ(file_content(first), "") << "still in the block";
        f.open(second.c_str(), mode_read | mode_write | mode_create_always);
        EXPECT_EQ(f.state, ok);
        EXPECT_EQ(file_content(first), "first");
        f.write("second", 6);
        EXPECT_EQ(f.size(), 6u);
    }
    EXPECT_EQ(file_content(second), "second");
    std::filesystem::remove_all(folder);
}

TEST(cached_file, failed_open_leaves_state_fail)
{
    cached_file f(L"Z:\\no such folder\\x.bin", mode_read | mode_open_existing, block);
    EXPECT_EQ(f.state, fail);
    char byte;
    EXPECT_EQ(f.read(&byte, 1), 0u);
}

}  // namespace
#endif
