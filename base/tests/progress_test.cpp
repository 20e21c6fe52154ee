#include "base/progress.hpp"

#include <gtest/gtest.h>

#include <cstdint>
#include <limits>
#include <vector>

namespace {

template <class T>
struct recorder : fenrix::progress<T> {
    std::vector<T> values;
    std::vector<std::pair<T, T>> ranges;
    bool stop = false;
    void set_range(T start, T end) override { ranges.emplace_back(start, end); }
    void set(T value) override { values.push_back(value); }
    bool cancel() override { return stop; }
};

template <class T>
class GlobalProgress : public ::testing::Test {
};
using units = ::testing::Types<unsigned int, unsigned long long>;
TYPED_TEST_SUITE(GlobalProgress, units);

TYPED_TEST(GlobalProgress, ReportsOuterRangeAtConstruction)
{
    recorder<TypeParam> outer;
    fenrix::global_progress<TypeParam> p(&outer, 0, 1000);
    ASSERT_EQ(outer.ranges.size(), 1u);
    EXPECT_EQ(outer.ranges[0], std::make_pair(TypeParam(0), TypeParam(1000)));
}

TYPED_TEST(GlobalProgress, MapsPhasesOntoSections)
{
    recorder<TypeParam> outer;
    fenrix::global_progress<TypeParam> p(&outer, 0, 1000);
    p.set_section(100, 1000);
    p.set_range(0, 4000);
    p.set(2000);
    p.set_section(0, 100);
    p.set_range(0, 3);
    p.set(1);  // 33.33 truncates toward zero
    EXPECT_EQ(outer.values, (std::vector<TypeParam>{550, 33}));
}

TYPED_TEST(GlobalProgress, ReportsNothingWithoutRangeOrSection)
{
    recorder<TypeParam> outer;
    fenrix::global_progress<TypeParam> p(&outer, 0, 1000);
    p.set(5);  // neither range nor section given
    p.set_section(0, 100);
    p.set(5);  // own range still empty (1 to 0)
    p.set_range(7, 7);
    p.set(7);  // empty own range
    EXPECT_TRUE(outer.values.empty());
}

TYPED_TEST(GlobalProgress, DoesNotClampBeyondTheRange)
{
    recorder<TypeParam> outer;
    fenrix::global_progress<TypeParam> p(&outer, 0, 1000);
    p.set_section(0, 100);
    p.set_range(0, 10);
    p.set(20);
    EXPECT_EQ(outer.values, (std::vector<TypeParam>{200}));
}

TYPED_TEST(GlobalProgress, PositionBeyondWhatTHoldsReportsTheLargestValue)
{
    recorder<TypeParam> outer;
    fenrix::global_progress<TypeParam> p(&outer, 0, 1000);
    p.set_section(100, 1000);
    p.set_range(10, 11);
    p.set(0);  // below start: wraps to the largest difference, times 900
    p.set(11);
    EXPECT_EQ(outer.values, (std::vector<TypeParam>{std::numeric_limits<TypeParam>::max(), 1000}));
}

TYPED_TEST(GlobalProgress, CancelOnlyPassesOnTheOuterCancelAndNothingElse)
{
    recorder<unsigned int> outer;
    fenrix::cancel_only<TypeParam, unsigned int> p(&outer);
    p.set_range(0, 10);
    p.set(5);
    EXPECT_FALSE(p.cancel());
    outer.stop = true;
    EXPECT_TRUE(p.cancel());
    EXPECT_TRUE(outer.values.empty());
    EXPECT_TRUE(outer.ranges.empty());
    EXPECT_FALSE((fenrix::cancel_only<TypeParam, unsigned int>(nullptr).cancel()));
}

TYPED_TEST(GlobalProgress, NullOuterAcceptsEverythingAndNeverCancels)
{
    fenrix::global_progress<TypeParam> p(nullptr, 0, 1000);
    p.set_section(0, 100);
    p.set_range(0, 10);
    p.set(5);
    p.set_text(nullptr);
    p.show(1);
    EXPECT_FALSE(p.cancel());
}

TYPED_TEST(GlobalProgress, ForwardsCancel)
{
    recorder<TypeParam> outer;
    fenrix::global_progress<TypeParam> p(&outer, 0, 1000);
    EXPECT_FALSE(p.cancel());
    outer.stop = true;
    EXPECT_TRUE(p.cancel());
}

TEST(progress, default_reports_nothing_and_never_cancels)
{
    fenrix::progress<unsigned int> p;
    p.set_range(0, 1);
    p.set(1);
    EXPECT_FALSE(p.cancel());
}

TEST(user_cancelled, is_a_runtime_error_with_its_text)
{
    try {
        throw fenrix::user_cancelled("operation cancelled");
    } catch (const std::runtime_error& e) {
        EXPECT_STREQ(e.what(), "operation cancelled");
    }
}

}  // namespace
