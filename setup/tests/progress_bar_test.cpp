#include "setup/progress_bar.hpp"

#include <gtest/gtest.h>

#include <cmath>
#include <limits>
#include <string>
#include <vector>

#include "setup/tests/download_reports.hpp"

namespace {

using fenrix::progress_bar_position;
using fenrix::progress_bar_scale;

struct bar_case {
    const char* name;
    unsigned start;
    unsigned end;
    unsigned value;
    unsigned expected;
};

class progress_bar : public ::testing::TestWithParam<bar_case> {};

TEST_P(progress_bar, scales_the_range_onto_0_to_1000)
{
    const bar_case& c = GetParam();
    EXPECT_EQ(progress_bar_position(c.value, c.start, progress_bar_scale(c.start, c.end)), c.expected);
}

INSTANTIATE_TEST_SUITE_P(ranges, progress_bar,
                         ::testing::Values(
                             // The signed download's outer range.
                             bar_case{"global_start", 0, 1000, 0, 0}, bar_case{"global_middle", 0, 1000, 550, 550},
                             bar_case{"global_end", 0, 1000, 1000, 1000},
                             // Byte counts: truncation toward zero.
                             bar_case{"bytes_truncated", 0, 3, 1, 333}, bar_case{"offset_range", 100, 200, 150, 500},
                             // Beyond the end the bar stays full.
                             bar_case{"beyond_end", 0, 1000, 5000, 1000},
                             // Below start the difference wraps around: a full bar.
                             bar_case{"below_start_wraps", 100, 200, 99, 1000},
                             // A range that wraps in 32 bits still spans its unsigned difference.
                             bar_case{"wrapping_range", 0xFFFFFF00u, 0x100u, 0xFFFFFF80u, 250},
                             // An empty range: 0 x infinity is NaN, anything else infinity; full bar.
                             bar_case{"empty_range_at_start", 7, 7, 7, 1000},
                             bar_case{"empty_range_later", 7, 7, 9, 1000}),
                         [](const ::testing::TestParamInfo<bar_case>& info) { return std::string(info.param.name); });

TEST(progress_bar_before_range, a_nan_scale_shows_a_full_bar)
{
    EXPECT_EQ(progress_bar_position(0, 0, std::numeric_limits<double>::quiet_NaN()), 1000u);
}

TEST(progress_bar_scale, is_1000_over_the_unsigned_difference)
{
    EXPECT_DOUBLE_EQ(progress_bar_scale(0, 4000), 0.25);
    EXPECT_TRUE(std::isinf(progress_bar_scale(5, 5)));
}

// What the dialog's adapter does with a feed, less the window: the
// positions it would send.
struct bar_sink : fenrix::progress<unsigned int> {
    fenrix::progress_bar_feed bar;
    std::vector<unsigned> sent;
    int ranges = 0;
    void set_range(unsigned int start, unsigned int end) override
    {
        bar.set_range(start, end);
        ++ranges;
    }
    void set(unsigned int value) override
    {
        unsigned position = 0;
        if (bar.moves(value, position))
            sent.push_back(position);
    }
};

using download_reports::download_case;

class progress_bar_feed : public ::testing::TestWithParam<download_case> {};

TEST_P(progress_bar_feed, passes_a_position_only_when_the_bar_moves)
{
    const download_case& c = GetParam();
    bar_sink sink;
    download_reports::feed(sink, c);
    EXPECT_EQ(sink.ranges, 1);
    EXPECT_LE(sink.sent.size(), std::size_t(fenrix::progress_bar_end + 1));
    EXPECT_EQ(sink.sent, download_reports::distinct_positions(c));
    ASSERT_FALSE(sink.sent.empty());
    EXPECT_EQ(sink.sent.back(), fenrix::progress_bar_end);
}

INSTANTIATE_TEST_SUITE_P(downloads, progress_bar_feed, ::testing::ValuesIn(download_reports::cases),
                         [](const ::testing::TestParamInfo<download_case>& info) {
                             return std::string(info.param.name);
                         });

TEST(progress_bar_feed_range, a_new_range_lets_its_first_position_through)
{
    bar_sink sink;
    sink.set(5);  // before any range: a full bar, as the arithmetic says
    sink.set(6);
    sink.set_range(0, 1000);
    sink.set(1000);
    sink.set(1000);
    sink.set_range(0, 1000);
    sink.set(1000);
    sink.set_range(0, 2000);
    sink.set(1000);
    sink.set(1001);
    sink.set(999);  // backwards moves the bar too
    EXPECT_EQ(sink.sent, (std::vector<unsigned>{1000, 1000, 1000, 500, 499}));
}

}  // namespace
