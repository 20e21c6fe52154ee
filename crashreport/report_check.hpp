// Whether a stored file can be sent as a report at all: a file cut short by
// a writer that died, or any other file under a report's name, is dropped
// rather than offered to the server at every start.
#pragma once

#include <cstddef>

#include "crashreport/report_format.hpp"

namespace brindlex {

// A larger file is no report: the report server takes no larger body.
inline constexpr std::size_t max_report_size = std::size_t(64) << 20;
// Far above any report's content (its largest part is a copy of one
// thread's stack), so that a file that inflates without end is not taken for
// one.
inline constexpr std::size_t max_report_content = std::size_t(256) << 20;

// True when `data` is exactly one complete zlib stream of at most
// max_report_size bytes whose content starts with the header of a report of
// `kind` ("BXO1" or "BXR1") and a machine the format knows, and inflates to
// at most max_report_content bytes.
bool is_complete_report(const unsigned char* data, std::size_t size, format::report_kind kind);

}  // namespace brindlex
