#include "stream/basic.hpp"

#include <gtest/gtest.h>

#include <cstring>
#include <stdexcept>
#include <system_error>

#include "stream/memory_file.hpp"
#include "stream/tests/test_streams.hpp"

namespace {
using namespace fenrix::stream;
using fenrix::stream::testing::text_source;

TEST(basic_stream, default_fails_transfers_but_flushes_and_closes)
{
    basic s;
    char byte = 0;
    EXPECT_EQ(s.read(&byte, 1), 0u);
    EXPECT_EQ(s.state, fail);
    s.flush();
    EXPECT_EQ(s.state, ok);
    EXPECT_EQ(s.write(&byte, 1), 0u);
    EXPECT_EQ(s.state, fail);
    s.close();
    EXPECT_EQ(s.state, ok);
}

TEST(basic_stream, skip_zero_does_nothing)
{
    text_source s("abc");
    s.skip(0);
    EXPECT_EQ(s.pos, 0u);
    EXPECT_EQ(s.state, ok);
}

TEST(basic_stream, skip_of_small_amounts_reads_bytewise)
{
    text_source s("abcdef", 1);
    s.skip(1);
    s.skip(4);
    EXPECT_EQ(s.pos, 5u);
}

TEST(basic_stream, skip_past_the_end_of_a_short_source)
{
    text_source small("abc");
    EXPECT_THROW(small.skip(5), std::system_error);
    text_source large("abc");
    EXPECT_NO_THROW(large.skip(100000));
    EXPECT_NE(large.state, ok);
}

TEST(basic_stream, skip_of_a_large_amount_consumes_exactly)
{
    text_source s(std::string(70000, 'x') + "tail", 4000);
    s.skip(70000);
    char rest[4];
    ASSERT_EQ(s.read(rest, 4), 4u);
    EXPECT_EQ(std::string(rest, 4), "tail");
}

TEST(basic_stream, read_array_counts_whole_elements)
{
    text_source s("12345", 2);
    char out[8];
    EXPECT_EQ(s.read_array(out, 4, 2), 1u);
    text_source exact("12345678", 3);
    EXPECT_EQ(exact.read_array(out, 4, 2), 2u);
    EXPECT_EQ(std::string(out, 8), "12345678");
}

TEST(basic_stream, read_array_rejects_an_overflowing_size)
{
    text_source s("x");
    char out;
    EXPECT_THROW(s.read_array(&out, SIZE_MAX / 2 + 1, 2), std::invalid_argument);
}

TEST(basic_stream, write_stream_copies_until_the_source_ends)
{
    text_source src(std::string(100000, 'q'), 777);
    memory_file dst;
    EXPECT_EQ(dst.write_stream(src, 1u << 30), 100000u);
    EXPECT_EQ(dst.state, ok);
    EXPECT_EQ(dst.size(), 100000u);
}

TEST(basic_stream, write_stream_stops_at_the_amount)
{
    text_source src("abcdef");
    memory_file dst;
    EXPECT_EQ(dst.write_stream(src, 4), 4u);
    EXPECT_EQ(std::string(reinterpret_cast<const char*>(dst.bytes()), 4), "abcd");
}

TEST(basic_stream, write_stream_reports_a_failed_write)
{
    text_source src("abcdef");
    basic sink;  // fails every write
    EXPECT_EQ(sink.write_stream(src, 6), 0u);
    EXPECT_EQ(sink.state, fail);
}

TEST(basic_file, default_times_and_locks)
{
    memory_file f;
    EXPECT_TRUE(f.ctime().is_none());
    EXPECT_TRUE(f.atime().is_none());
    EXPECT_TRUE(f.mtime().is_none());
    EXPECT_THROW(f.set_mtime(time_point{0}), std::domain_error);
    EXPECT_THROW(f.lock(0, 1), std::domain_error);
    try {
        f.unlock(0, 1);
        FAIL();
    } catch (const std::domain_error& e) {
        EXPECT_STREQ(e.what(), "not implemented");
    }
}

TEST(basic_file, skip_seeks_and_rejects_huge_amounts)
{
    memory_file f;
    f.write("abcdef", 6);
    f.seek(0);
    f.skip(4);
    EXPECT_EQ(f.tell(), 4u);
    EXPECT_THROW(f.skip(0x8000000000000000ULL), std::invalid_argument);
}

TEST(time_point, converts_file_times)
{
    EXPECT_EQ(time_point::from_file_time(116444736000000000ULL).ticks, 0);
    EXPECT_EQ(time_point{5}.to_file_time(), 116444736000000005ULL);
}

}  // namespace
