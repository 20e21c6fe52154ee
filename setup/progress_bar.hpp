// The arithmetic of the dialog's progress bar, which always spans 0 to 1000
// whatever the unit of the reporting operation, and the choice of the
// reports that reach it. Portable.
#pragma once

#include <algorithm>
#include <atomic>
#include <limits>

namespace fenrix {

constexpr unsigned progress_bar_end = 1000;

// Bar units per progress unit for the range start..end; the difference is
// taken in unsigned 32-bit arithmetic. An empty range gives infinity.
inline double progress_bar_scale(unsigned start, unsigned end)
{
    return double(progress_bar_end) / double(unsigned(end - start));
}

// The bar position of value: a value below start wraps to a large difference
// and shows a full bar; so does a NaN product (no range yet, or 0 times an
// infinite scale), since std::min returns its first argument when the
// comparison with NaN fails.
inline unsigned progress_bar_position(unsigned value, unsigned start, double scale)
{
    const double x = double(unsigned(value - start)) * scale;
    return static_cast<unsigned>(std::min(double(progress_bar_end), x));
}

// One bar's range and the position it was last given. Operations report
// every block (8 KiB of a download), far more often than the bar can move,
// and each message to the dialog costs a thread switch; passing on only the
// reports that move the bar keeps a range to at most 1001 messages. Calls
// come one at a time, from whichever thread reports.
class progress_bar_feed {
public:
    // A new range; its first position always passes, whatever the bar shows.
    void set_range(unsigned new_start, unsigned end)
    {
        start = new_start;
        scale = progress_bar_scale(new_start, end);
        shown.store(no_position, std::memory_order_relaxed);
    }

    // The bar position of value in `position`; false when the bar shows it
    // already.
    bool moves(unsigned value, unsigned& position)
    {
        position = progress_bar_position(value, start, scale);
        return shown.exchange(position, std::memory_order_relaxed) != position;
    }

    unsigned start = 0;
    double scale = std::numeric_limits<double>::quiet_NaN();  // bar units per progress unit

private:
    // Never a bar position: nothing given since the last set_range.
    static constexpr unsigned no_position = ~0u;
    std::atomic<unsigned> shown{no_position};
};

}  // namespace fenrix
