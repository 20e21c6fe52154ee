#include "stream/memory_file.hpp"

#include <gtest/gtest.h>

#include <stdexcept>
#include <string>

namespace {
using namespace fenrix::stream;

TEST(memory_file, grows_in_quarter_steps_rounded_to64_k)
{
    memory_file f;
    char byte = 'x';
    f.write(&byte, 1);
    EXPECT_EQ(f.reserved_size(), 65536u);
    std::string block(65535, 'y');
    f.write(block.data(), block.size());
    EXPECT_EQ(f.reserved_size(), 65536u);
    f.write(&byte, 1);
    EXPECT_EQ(f.reserved_size(), 131072u);
    EXPECT_EQ(f.size(), 65537u);
}

TEST(memory_file, reserve_loose_and_tight)
{
    memory_file loose;
    loose.reserve(100000);
    EXPECT_EQ(loose.reserved_size(), 131072u);
    memory_file tight;
    tight.reserve(100000, true);
    EXPECT_EQ(tight.reserved_size(), 100000u);
    tight.reserve(10, true);
    EXPECT_EQ(tight.reserved_size(), 10u);
    tight.reserve(0, true);
    EXPECT_EQ(tight.reserved_size(), 0u);
    EXPECT_EQ(tight.bytes(), nullptr);
}

TEST(memory_file, reserve_rejects_sizes_near4_gi_b)
{
    memory_file f;
    EXPECT_THROW(f.reserve(0xF0000000u), std::invalid_argument);
    EXPECT_EQ(f.reserved_size(), 0u);
}

TEST(memory_file, read_and_write_around_the_end)
{
    memory_file f;
    f.write("12345", 5);
    char out[8];
    EXPECT_EQ(f.read(out, 8), 0u);
    EXPECT_EQ(f.state, fenrix::stream::eof);
    f.seek(10, beg);
    EXPECT_EQ(f.read(out, 1), 0u);
    EXPECT_EQ(f.state, fenrix::stream::eof);
    f.write("z", 1);
    EXPECT_EQ(f.size(), 11u);
    f.seek(1);
    EXPECT_EQ(f.read(out, 3), 3u);
    EXPECT_EQ(std::string(out, 3), "234");
    EXPECT_EQ(f.state, ok);
}

TEST(memory_file, seek_origins_and_errors)
{
    memory_file f;
    f.write("12345", 5);
    EXPECT_EQ(f.seek(0, end), 5u);
    EXPECT_EQ(f.seek(-2, cur), 3u);
    f.seek(0);
    struct case_t {
        std::int64_t offset;
        seek_t how;
        const char* text;
    };
    for (const case_t& c :
         {case_t{-1, cur, "negative file offset"}, case_t{0, seek_t(3), "unknown seek origin"},
          case_t{0x100000000LL, beg, "file offset too big"}, case_t{INT64_MAX, end, "file offset too big"}}) {
        try {
            f.seek(c.offset, c.how);
            ADD_FAILURE() << c.text;
        } catch (const std::invalid_argument& e) {
            EXPECT_STREQ(e.what(), c.text);
        }
    }
    EXPECT_EQ(f.tell(), 0u);
}

TEST(memory_file, truncate_ends_at_the_position)
{
    memory_file f;
    f.write("12345", 5);
    f.seek(2);
    f.truncate();
    EXPECT_EQ(f.size(), 2u);
    EXPECT_EQ(f.tell(), 2u);
}

TEST(memory_file, close_empties_and_stays_usable)
{
    memory_file f(1000);
    f.write("abcdef", 6);
    f.close();
    EXPECT_EQ(f.size(), 0u);
    EXPECT_EQ(f.reserved_size(), 0u);
    f.write("abc", 3);
    EXPECT_EQ(f.size(), 3u);
    EXPECT_EQ(f.reserved_size(), 65536u);
}

TEST(memory_file, write_rejects_an_overflowing_end)
{
    memory_file f;
    f.seek(10);
    EXPECT_THROW(f.write("x", SIZE_MAX), std::invalid_argument);
}

}  // namespace
