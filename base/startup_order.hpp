// The order in which the process-wide objects are built before the entry
// point, as GCC's init_priority values (lower first; every object without a
// priority comes after all of these). Each object names its step here, so
// the order is read in one place:
//
//   locales         the C runtime locales; everything after them may format
//   crash_storage   the crash reporter's buffers, report files and upload
//                   state (the report server's URL record among them)
//   crash_reservations  what reserves capacity in that storage
//   crash_reporter  the reporter itself: it reads its switch, starts the
//                   sender of stored reports and sets the exception filter,
//                   so everything above must exist by then
#pragma once

namespace fenrix::startup_order {

inline constexpr int locales = 1000;
inline constexpr int crash_storage = 1500;
inline constexpr int crash_reservations = 1501;
inline constexpr int crash_reporter = 2000;

static_assert(locales < crash_storage && crash_storage < crash_reservations && crash_reservations < crash_reporter);

}  // namespace fenrix::startup_order
