// What every download of content into a file shares, whether it starts at
// byte 0 (signed_download.hpp) or goes on from kept bytes
// (resumable_fetch.hpp).
#pragma once

#include <cstdint>
#include <stdexcept>
#include <string>
#include <system_error>

#include "stream/basic.hpp"
#include "stream/last_error.hpp"

namespace fenrix::signed_download_detail {

[[noreturn]] inline void throw_too_large(const char* what, std::uint64_t limit)
{
    throw std::runtime_error(std::string(what) + " is larger than " + std::to_string(limit) + " bytes");
}

// An announced length is only the server's word: nothing is set aside for
// it, and what arrives is bounded block by block instead.
struct no_length {
    void operator()(std::uint32_t) const {}
};

// Ends `file` at `size`. A file that kept stale bytes beyond the ones
// written would be verified over one content and handed on with another.
inline void cut_at(stream::basic_file& file, std::uint64_t size)
{
    if (file.seek(std::int64_t(size)) != size || file.state != stream::ok)
        throw std::system_error(stream::last_os_error(), std::system_category(), "seek failed");
    file.truncate();
    if (file.state != stream::ok)
        throw std::system_error(stream::last_os_error(), std::system_category(), "truncation failed");
}

}  // namespace fenrix::signed_download_detail
