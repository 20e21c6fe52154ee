#include "setup/progress_bar.hpp"

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstdint>
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
// positions it would send, with a clock that moves ms_per_report
// milliseconds before each report.
struct bar_sink : fenrix::progress<unsigned int> {
    explicit bar_sink(std::uint32_t ms_per_report = fenrix::progress_bar_feed::default_min_interval_ms,
                      std::uint32_t clock_start = 0)
        : ms_per_report(ms_per_report), now(clock_start)
    {
    }
    fenrix::progress_bar_feed bar;
    std::uint32_t ms_per_report;
    std::uint32_t now;
    std::vector<unsigned> sent;
    std::vector<std::uint32_t> sent_at;
    int ranges = 0;
    void set_range(unsigned int start, unsigned int end) override
    {
        bar.set_range(start, end);
        ++ranges;
    }
    void set(unsigned int value) override
    {
        now += ms_per_report;
        unsigned position = 0;
        if (bar.moves(value, now, position)) {
            sent.push_back(position);
            sent_at.push_back(now);
        }
    }
};

using download_reports::download_case;

class progress_bar_feed : public ::testing::TestWithParam<download_case> {};

TEST_P(progress_bar_feed, passes_every_movement_of_reports_an_interval_apart)
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

TEST_P(progress_bar_feed, passes_fast_reports_at_most_once_an_interval_and_always_the_end)
{
    // A report every millisecond, from a clock about to wrap.
    const download_case& c = GetParam();
    bar_sink sink(1, 0xFFFFFF00u);
    download_reports::feed(sink, c);
    const std::vector<unsigned> every = download_reports::distinct_positions(c);
    ASSERT_FALSE(sink.sent.empty());
    EXPECT_EQ(sink.sent.front(), every.front());
    EXPECT_EQ(sink.sent.back(), fenrix::progress_bar_end);
    // In order, each one a movement the bar makes, and spaced out but for the end.
    auto from = every.begin();
    for (std::size_t i = 0; i < sink.sent.size(); ++i) {
        from = std::find(from, every.end(), sink.sent[i]);
        ASSERT_NE(from, every.end()) << "position " << sink.sent[i] << " out of order or never reached";
        if (i > 0 && sink.sent[i] != fenrix::progress_bar_end) {
            EXPECT_GE(std::uint32_t(sink.sent_at[i] - sink.sent_at[i - 1]),
                      fenrix::progress_bar_feed::default_min_interval_ms)
                << "position " << sink.sent[i];
        }
    }
    // No more than the reports' time allows: where the bar would move on
    // every report (5000 one-byte blocks), one position in 50.
    const std::size_t reports = std::size_t((c.size + c.block - 1) / c.block) + 1;
    EXPECT_LE(sink.sent.size(), reports / fenrix::progress_bar_feed::default_min_interval_ms + 2);
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

struct paced_report {
    std::uint32_t ms_since_last;
    unsigned value;
    bool passes;
};

TEST(progress_bar_feed_pace, holds_back_movements_within_the_interval)
{
    bar_sink sink(0);
    sink.set_range(0, 1000);
    const paced_report reports[] = {
        {0, 100, true},    // the first of the range
        {10, 200, false},  // too soon
        {39, 300, false},  // 49 ms after the last that passed
        {1, 400, true},    // 50 ms after it
        {50, 400, false},  // the bar stands there already
        {0, 1000, true},   // the end of the bar passes at once
        {0, 1000, false},  // and once
        {0, 990, false},   // a step back within the interval is held too
        {50, 990, true},
    };
    std::vector<unsigned> expected;
    for (const paced_report& report : reports) {
        sink.now += report.ms_since_last;
        const std::size_t before = sink.sent.size();
        sink.set(report.value);
        EXPECT_EQ(sink.sent.size() > before, report.passes) << "value " << report.value;
        if (report.passes)
            expected.push_back(report.value);
    }
    EXPECT_EQ(sink.sent, expected);
}

}  // namespace
