// The progress reports of one signed download, as the download makes them:
// the outer range 0 to 1000, a 178-byte signature in one block (section 0 to
// 100), then the content block by block (section 100 to 1000), with a
// cancel() poll per block. Shared by the tests of the bar feed (portable)
// and of the dialog's adapter (under Windows).
#pragma once

#include <algorithm>
#include <cstdint>
#include <vector>

#include "base/progress.hpp"
#include "setup/progress_bar.hpp"

namespace download_reports {

struct download_case {
    const char* name;
    std::uint64_t size;
    unsigned block;
};

inline const download_case cases[] = {
    {"package_1GiB_in_8KiB_blocks", 1ull << 30, 8192},
    // The largest leftover a 32-bit size still counts.
    {"leftover_3GiB_in_8KiB_blocks", 3ull << 30, 8192},
    {"package_10kB_in_8KiB_blocks", 10240, 8192},
    {"odd_sizes", 1000003, 4097},
    {"one_byte_blocks", 5000, 1},
};

// Calls `on_poll(block index)` before each block's cancel() poll; returns the
// indices of the blocks at which cancel() was true.
template <class OnPoll>
std::vector<std::uint64_t> feed(fenrix::progress<unsigned int>& outer, const download_case& c, OnPoll on_poll)
{
    std::vector<std::uint64_t> cancelled;
    fenrix::global_progress<unsigned int> global(&outer, 0, 1000);
    global.set_section(0, 100);
    global.set_range(0, 178);
    global.set(178);
    global.set_section(100, 1000);
    global.set_range(0, unsigned(c.size));
    std::uint64_t done = 0;
    for (std::uint64_t index = 0; done < c.size; ++index) {
        on_poll(index);
        if (global.cancel())
            cancelled.push_back(index);
        done += std::min<std::uint64_t>(c.block, c.size - done);
        global.set(unsigned(done));
    }
    return cancelled;
}

inline void feed(fenrix::progress<unsigned int>& outer, const download_case& c)
{
    feed(outer, c, [](std::uint64_t) {});
}

// The bar positions that sending every report would show, with repeats of
// one position dropped: what the bar must go through, and nothing more.
inline std::vector<unsigned> distinct_positions(const download_case& c)
{
    struct value_log : fenrix::progress<unsigned int> {
        std::vector<unsigned> values;
        void set(unsigned int value) override { values.push_back(value); }
    } log;
    feed(log, c);
    const double scale = fenrix::progress_bar_scale(0, fenrix::progress_bar_end);
    std::vector<unsigned> positions;
    for (unsigned value : log.values) {
        const unsigned position = fenrix::progress_bar_position(value, 0, scale);
        if (positions.empty() || positions.back() != position)
            positions.push_back(position);
    }
    return positions;
}

}  // namespace download_reports
