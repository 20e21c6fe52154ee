// What the crash reporter and the report server agree on for an upload: one
// chunked HTTPS POST of a zlib-compressed report to `path`, and the statuses
// of the reply. Status 200: the server took the report; 449: it asks for the
// .bxr report of the same crash as well. Any other status is a failed upload.
#pragma once

#include <cstdint>

namespace brindlex::upload {

inline constexpr const char* path = "/BrindlexSprejem/sprejem/";
inline constexpr const char* user_agent = "Brindlex/13.0";
inline constexpr const char* content_type = "application/x-brindlexz";

inline constexpr std::uint16_t status_taken = 200;
inline constexpr std::uint16_t status_send_bxr = 449;

}  // namespace brindlex::upload
