// The text shown to the user for an exception: its what(), then ": " and the
// text of each nested std::exception in turn. Portable.
#pragma once

#include <exception>
#include <string>

namespace fenrix {

std::string exception_message(const std::exception& e);

}  // namespace fenrix
