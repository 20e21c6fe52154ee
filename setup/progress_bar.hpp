// The arithmetic of the dialog's progress bar, which always spans 0 to 1000
// whatever the unit of the reporting operation, and the choice of the
// reports that reach it. Portable.
#pragma once

#include <algorithm>
#include <atomic>
#include <cstdint>
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
// and every position the dialog is given costs it a repaint, which under
// Wine on X is about a millisecond of the dialog thread and of the X server,
// taken from the download on a machine with few cores. So a position passes
// only when the bar moves and the last one passed at least min_interval_ms
// ago, unless it is the first of a range or the end of the bar, which always
// pass: a range shows at most 1001 positions, a fast one about 1000 /
// min_interval_ms per second, and a finished one its full bar. Calls come one
// at a time, from whichever thread reports.
class progress_bar_feed {
public:
    // Twenty positions a second: a bar that moves smoothly to the eye.
    static constexpr std::uint32_t default_min_interval_ms = 50;

    // A new range; its first position always passes, whatever the bar shows.
    void set_range(unsigned new_start, unsigned end)
    {
        start = new_start;
        scale = progress_bar_scale(new_start, end);
        shown.store(no_position, std::memory_order_relaxed);
    }

    // The bar position of value in `position`; true when it is to be shown
    // now, `now_ms` being a millisecond clock that may wrap.
    bool moves(unsigned value, std::uint32_t now_ms, unsigned& position)
    {
        position = progress_bar_position(value, start, scale);
        const unsigned last = shown.load(std::memory_order_relaxed);
        if (last == position)
            return false;
        if (last != no_position && position != progress_bar_end &&
            std::uint32_t(now_ms - last_passed_ms) < min_interval_ms)
            return false;
        shown.store(position, std::memory_order_relaxed);
        last_passed_ms = now_ms;
        return true;
    }

    unsigned start = 0;
    double scale = std::numeric_limits<double>::quiet_NaN();  // bar units per progress unit
    std::uint32_t min_interval_ms = default_min_interval_ms;

private:
    // Never a bar position: nothing given since the last set_range.
    static constexpr unsigned no_position = ~0u;
    std::atomic<unsigned> shown{no_position};
    std::uint32_t last_passed_ms = 0;
};

}  // namespace fenrix
