// Whether this build resumes package downloads: a build setting
// (LUMORA_DOWNLOAD_RESUME in update/CMakeLists.txt), generated from
// download_policy_values.cpp.in. Off, a package download that fails starts
// again from byte 0 on the next run.
#pragma once

namespace fenrix {

extern const bool download_resume_enabled;

}  // namespace fenrix
