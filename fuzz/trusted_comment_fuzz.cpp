// Any bytes as a signature file read up to its trusted comment: reading
// either returns or throws std::runtime_error, and the comment's fields come
// out of any text, as do the names the checks compare them with.
#include <cstddef>
#include <cstdint>
#include <stdexcept>
#include <string_view>

#include "signature/minisign.hpp"
#include "signature/trusted_comment.hpp"
#include "signature/trusted_comment_fields.hpp"
#include "stream/memory_file.hpp"
#include "update/freshness_rules.hpp"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    const std::string_view text(reinterpret_cast<const char*>(data), size);
    fenrix::minisign::parse_trusted_comment_fields(text);
    fenrix::requested_file_name(text);

    fenrix::stream::memory_file file;
    file.write(data, size);
    file.seek(0);
    try {
        fenrix::minisign::parse_signature(file);
        const fenrix::minisign::trusted_comment comment = fenrix::minisign::read_trusted_comment(file);
        const fenrix::minisign::trusted_comment_fields fields =
            fenrix::minisign::parse_trusted_comment_fields(comment.text);
        if (fields.file && fields.file->find('\t') != std::string::npos)
            __builtin_trap();  // fields end at a tab
    } catch (const std::runtime_error&) {
    }
    return 0;
}
