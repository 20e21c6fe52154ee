// What a resumable download reads in a response head: the status, the
// validators that tie bytes to one version of the file, the length and the
// range sent. Portable: it reads the raw header lines a request hands out.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

namespace fenrix {

// A validator is sent back in If-Range: one longer than this, or holding a
// byte that cannot stand in a header line, names no file this client keeps.
inline constexpr std::size_t max_validator_size = 256;

// "Content-Range: bytes first-last/total", both ends included.
struct content_range {
    std::uint64_t first = 0;
    std::uint64_t last = 0;
    std::uint64_t total = 0;
    friend bool operator==(const content_range&, const content_range&) = default;
};

// The value of a Content-Range field ("bytes 100-299/300"); nothing for an
// unknown total ("*"), an unsatisfied range ("bytes */300"), ends out of
// order or beyond the total, or numbers that do not fit 64 bits.
std::optional<content_range> parse_content_range(std::string_view value);

class response_fields {
public:
    // One raw line of the head, CR LF included, as a request's on_header
    // receives it: the status line first, the empty line last. Returns true
    // for the empty line that ends the head.
    bool add_line(std::string_view line);

    // The validator to send back in If-Range: the strong ETag, else the
    // Last-Modified (RFC 9110 forbids a weak ETag there); empty when there is
    // neither, or the one there is cannot be sent back.
    std::string validator() const;

    std::uint16_t status = 0;
    std::optional<std::uint64_t> content_length;
    std::optional<content_range> range;
    // A Content-Range field was there, whether or not it could be read.
    bool range_sent = false;

private:
    std::optional<std::string> etag;
    std::optional<std::string> last_modified;
    bool status_line_seen = false;
};

}  // namespace fenrix
