// The native half of the publishing tool's audit: checks files with the
// program's own signature, descriptor and URL code, so the audit accepts
// exactly what the update client will accept.
//
//   lumora_check verify PUBLIC_KEY FILE...   each FILE against FILE.minisig,
//                                            its trusted comment included
//   lumora_check descriptor FILE...          reads each descriptor and its
//                                            package lines
//
// Prints one JSON object per FILE on its own line; exits 1 when any FILE
// failed, 2 on wrong usage or an unreadable key.
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <exception>
#include <memory>
#include <optional>
#include <stdexcept>
#include <string>

#include "parser/url.hpp"
#include "signature/minisign.hpp"
#include "signature/trusted_comment.hpp"
#include "signature/trusted_comment_fields.hpp"
#include "stream/memory_file.hpp"
#include "tools/report-reader/json_output.hpp"
#include "update/descriptor.hpp"
#include "update/descriptor_packages.hpp"
#include "update/freshness_rules.hpp"

namespace {

using namespace fenrix;
// Texts from the tree may hold any bytes: the JSON stays valid UTF-8.
using report_reader::json_string;

struct file_closer {
    void operator()(std::FILE* f) const { std::fclose(f); }
};
using file_ptr = std::unique_ptr<std::FILE, file_closer>;

file_ptr open_file(const std::string& path)
{
    file_ptr f(std::fopen(path.c_str(), "rb"));
    if (!f)
        throw std::runtime_error("cannot open " + path + ": " + std::strerror(errno));
    return f;
}

// Loads a small file whole, refusing one above `limit` bytes as the client does.
void load(const std::string& path, std::size_t limit, stream::memory_file& out)
{
    file_ptr f = open_file(path);
    char buffer[8192];
    std::size_t n;
    while ((n = std::fread(buffer, 1, sizeof buffer, f.get())) > 0) {
        if (out.size() + n > limit)
            throw std::runtime_error(path + " is larger than " + std::to_string(limit) + " bytes");
        out.write(buffer, n);
    }
    out.seek(0);
}

minisign::public_key read_key(const std::string& path)
{
    stream::memory_file file;
    load(path, minisign::max_signature_file_size, file);
    return minisign::parse_public_key(file);
}

// Checks FILE.minisig as the program does, with the freshness checks that
// need no history: the trusted comment verifies and names this file. Returns
// the JSON fields of the comment.
std::string verify_file(const minisign::public_key& key, const std::string& path)
{
    stream::memory_file signature_file;
    load(path + ".minisig", minisign::max_signature_file_size, signature_file);
    const minisign::signature sig = minisign::parse_signature(signature_file);
    minisign::select_key(sig, &key, 1);
    const minisign::trusted_comment comment = minisign::read_trusted_comment(signature_file);
    if (!minisign::verify_trusted_comment(sig, key, comment))
        throw std::runtime_error("Invalid Minisign signature");
    const minisign::trusted_comment_fields fields = minisign::parse_trusted_comment_fields(comment.text);
    // The file's own name, as minisign put it in the comment (not a URL path:
    // no escapes to decode).
    check_trusted_comment_fields(fields, path.substr(path.find_last_of('/') + 1), 0, std::nullopt);

    minisign::content_hash hash;
    file_ptr f = open_file(path);
    char buffer[8192];
    std::size_t n;
    while ((n = std::fread(buffer, 1, sizeof buffer, f.get())) > 0)
        hash.update(buffer, n);
    if (std::ferror(f.get()))
        throw std::runtime_error("cannot read " + path);
    if (!minisign::verify(sig, key, hash.finish()))
        throw std::runtime_error("Invalid Minisign signature");
    return "\"trusted_comment\": " + json_string(comment.text) +
        (fields.timestamp ? ", \"timestamp\": " + std::to_string(*fields.timestamp) : std::string());
}

std::string hex(const minisign::content_digest& digest)
{
    static const char digits[] = "0123456789abcdef";
    std::string out;
    for (std::uint8_t byte : digest) {
        out += digits[byte >> 4];
        out += digits[byte & 15];
    }
    return out;
}

std::string package_lines(stream::memory_file& file)
{
    file.seek(0);
    std::string out = ", \"packages\": [";
    const char* separator = "";
    for (const descriptor_package& package : read_descriptor_packages(file)) {
        out += separator;
        out += "{\"name\": " + json_string(package.name) +
            ", \"hash\": " + (package.digest ? json_string(hex(*package.digest)) : std::string("null")) + "}";
        separator = ", ";
    }
    return out + "]";
}

std::string describe_descriptor(const std::string& path)
{
    stream::memory_file file;
    load(path, max_descriptor_size, file);
    package_descriptor d;
    read_descriptor(file, d);

    std::string out = "\"number\": " + std::to_string(d.number) + ", \"text\": " + json_string(d.text) +
        ", \"url\": " + json_string(d.update_url) + package_lines(file);
    if (d.update_url.empty())
        return out + ", \"url_error\": \"update URL unavailable\"";
    try {
        const hopline::basic_url<char> url(d.update_url.c_str());
        if (url.scheme != 1 && url.scheme != 2)
            return out + ", \"url_error\": \"not an http or https URL\"";
        return out + ", \"scheme\": " + json_string(url.scheme == 1 ? "http" : "https") +
            ", \"host\": " + json_string(url.host) + ", \"port\": " + std::to_string(url.port) +
            ", \"path\": " + json_string(url.path);
    } catch (const std::exception& e) {
        return out + ", \"url_error\": " + json_string(e.what());
    }
}

int usage()
{
    std::fputs("usage: lumora_check verify PUBLIC_KEY FILE...\n"
               "       lumora_check descriptor FILE...\n",
               stderr);
    return 2;
}

}  // namespace

int main(int argc, char** argv)
{
    if (argc < 3)
        return usage();
    const std::string command = argv[1];
    int first_file = 2;
    minisign::public_key key{};
    if (command == "verify") {
        if (argc < 4)
            return usage();
        try {
            key = read_key(argv[2]);
        } catch (const std::exception& e) {
            std::fprintf(stderr, "lumora_check: %s: %s\n", argv[2], e.what());
            return 2;
        }
        first_file = 3;
    } else if (command != "descriptor") {
        return usage();
    }

    int status = 0;
    for (int i = first_file; i < argc; ++i) {
        const std::string path = argv[i];
        std::string fields;
        try {
            if (command == "verify")
                fields = verify_file(key, path);
            else
                fields = describe_descriptor(path);
            std::printf("{\"file\": %s, \"ok\": true%s%s}\n", json_string(path).c_str(), fields.empty() ? "" : ", ",
                        fields.c_str());
        } catch (const std::exception& e) {
            status = 1;
            std::printf("{\"file\": %s, \"ok\": false, \"error\": %s}\n", json_string(path).c_str(),
                        json_string(e.what()).c_str());
        }
    }
    return status;
}
