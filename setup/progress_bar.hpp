// The arithmetic of the dialog's progress bar, which always spans 0 to 1000
// whatever the unit of the reporting operation. Portable.
#pragma once

#include <algorithm>

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

}  // namespace fenrix
