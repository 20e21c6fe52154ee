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

TEST(BasicStream, DefaultFailsTransfersButFlushesAndCloses)
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

TEST(BasicStream, SkipZeroDoesNothing)
{
    text_source s("abc");
    s.skip(0);
    EXPECT_EQ(s.pos, 0u);
    EXPECT_EQ(s.state, ok);
}

TEST(BasicStream, SkipOfSmallAmountsReadsBytewise)
{
    text_source s("abcdef", 1);
    s.skip(1);
    s.skip(4);
    EXPECT_EQ(s.pos, 5u);
}

TEST(BasicStream, SkipPastTheEndOfAShortSource)
{
    text_source small("abc");
    EXPECT_THROW(small.skip(5), std::system_error);
    text_source large("abc");
    EXPECT_NO_THROW(large.skip(100000));
    EXPECT_NE(large.state, ok);
}

TEST(BasicStream, SkipOfALargeAmountConsumesExactly)
{
    text_source s(std::string(70000, 'x') + "tail", 4000);
    s.skip(70000);
    char rest[4];
    ASSERT_EQ(s.read(rest, 4), 4u);
    EXPECT_EQ(std::string(rest, 4), "tail");
}

TEST(BasicStream, ReadArrayCountsWholeElements)
{
    text_source s("12345", 2);
    char out[8];
    EXPECT_EQ(s.read_array(out, 4, 2), 1u);
    text_source exact("12345678", 3);
    EXPECT_EQ(exact.read_array(out, 4, 2), 2u);
    EXPECT_EQ(std::string(out, 8), "12345678");
}

TEST(BasicStream, ReadArrayRejectsAnOverflowingSize)
{
    text_source s("x");
    char out;
    EXPECT_THROW(s.read_array(&out, SIZE_MAX / 2 + 1, 2), std::invalid_argument);
}

TEST(BasicStream, WriteStreamCopiesUntilTheSourceEnds)
{
    text_source src(std::string(100000, 'q'), 777);
    memory_file dst;
    EXPECT_EQ(dst.write_stream(src, 1u << 30), 100000u);
    EXPECT_EQ(dst.state, ok);
    EXPECT_EQ(dst.size(), 100000u);
}

TEST(BasicStream, WriteStreamStopsAtTheAmount)
{
    text_source src("abcdef");
    memory_file dst;
    EXPECT_EQ(dst.write_stream(src, 4), 4u);
    EXPECT_EQ(std::string(reinterpret_cast<const char*>(dst.bytes()), 4), "abcd");
}

TEST(BasicStream, WriteStreamReportsAFailedWrite)
{
    text_source src("abcdef");
    basic sink;  // fails every write
    EXPECT_EQ(sink.write_stream(src, 6), 0u);
    EXPECT_EQ(sink.state, fail);
}

TEST(BasicFile, DefaultTimesAndLocks)
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

TEST(BasicFile, SkipSeeksAndRejectsHugeAmounts)
{
    memory_file f;
    f.write("abcdef", 6);
    f.seek(0);
    f.skip(4);
    EXPECT_EQ(f.tell(), 4u);
    EXPECT_THROW(f.skip(0x8000000000000000ULL), std::invalid_argument);
}

TEST(TimePoint, ConvertsFileTimes)
{
    EXPECT_EQ(time_point::from_file_time(116444736000000000ULL).ticks, 0);
    EXPECT_EQ(time_point{5}.to_file_time(), 116444736000000005ULL);
}

}  // namespace
