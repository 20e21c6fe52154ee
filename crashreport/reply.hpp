// Reading the report server's reply: the Content-Type header line and the
// charset that decides how a plain-text reply is decoded. Portable.
#pragma once

#include <cstddef>
#include <string>

namespace brindlex {

// When `line` is a "Content-Type:" header line (name in any letter case,
// white space around the colon), stores its value without trailing white
// space and returns true.
bool read_content_type_line(const char* line, std::size_t length, std::string& content_type);

struct media_type {
    std::string type;  // the text before the first ";", as it stands
    bool has_charset = false;
    std::string charset;  // the text after "charset =", possibly empty
};

media_type split_content_type(const std::string& content_type);

bool is_plain_text(const media_type& media);

enum class reply_decoding {
    windows_1250,  // no charset, or "windows-1250"
    utf7,          // code page 65000
    utf16,         // little-endian units up to the first zero unit
    none,          // "utf-32": the text stays empty
    utf8,          // any other name, an empty one too
};

reply_decoding decoding_for(const media_type& media);

}  // namespace brindlex
