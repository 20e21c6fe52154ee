#include "win/wiping_allocator.hpp"

#include <gtest/gtest.h>

#include <algorithm>
#include <vector>

namespace {

// Records, at the moment of release, whether each block was all zeros.
std::vector<bool>* released_zeroed = nullptr;

void observe(const void* block, std::size_t bytes)
{
    const auto* p = static_cast<const unsigned char*>(block);
    released_zeroed->push_back(std::all_of(p, p + bytes, [](unsigned char c) { return c == 0; }));
}

class wiping_allocator : public ::testing::Test {
protected:
    void SetUp() override
    {
        released_zeroed = &seen;
        wembra::wipe_observer = observe;
    }
    void TearDown() override { wembra::wipe_observer = nullptr; }
    std::vector<bool> seen;
};

TEST_F(wiping_allocator, wipes_on_growth_and_release)
{
    {
        wembra::wiping_string secret(40, 's');  // beyond the small-string buffer
        secret.append(200, 't');                // growth releases the first block
        EXPECT_EQ(seen.size(), 1u);
    }
    ASSERT_EQ(seen.size(), 2u);
    EXPECT_TRUE(seen[0]);
    EXPECT_TRUE(seen[1]);
}

TEST_F(wiping_allocator, wide_strings_too)
{
    {
        wembra::wiping_wstring secret(100, L'p');
    }
    ASSERT_EQ(seen.size(), 1u);
    EXPECT_TRUE(seen[0]);
}

}  // namespace
