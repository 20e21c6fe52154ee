// Whether this build checks that signatures are current, and its floor: build
// settings (LUMORA_SIGNATURE_FRESHNESS, LUMORA_SIGNATURE_NOT_BEFORE in
// update/CMakeLists.txt), generated from signature_policy_values.cpp.in.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "update/descriptor_packages.hpp"
#include "update/signature_freshness.hpp"

namespace fenrix {

extern const bool signature_freshness_enabled;
extern const std::uint64_t signature_not_before;

// The checks for a download of `request_path` in this build: none when the
// build leaves them out. With `packages`, a file they list is bound to its
// hash there.
std::optional<signature_freshness> freshness_for(const std::string& request_path,
                                                 const std::vector<descriptor_package>& packages = {});

}  // namespace fenrix
