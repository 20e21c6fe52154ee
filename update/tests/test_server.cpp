#include "update/tests/test_server.hpp"

#include <windows.h>

#include <algorithm>
#include <fstream>
#include <iterator>
#include <stdexcept>

#include "http/get_request.hpp"
#include "parser/url.hpp"
#include "update/freshness_rules.hpp"

namespace fenrix::update_testing {

namespace {

const std::string server_dir = LUMORA_TEST_SERVER_DIR;

std::string read_all(const std::string& path)
{
    std::ifstream in(path, std::ios::binary);
    if (!in)
        throw std::runtime_error("cannot read " + path);
    return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

void request_marker(const std::string& path)
{
    hopline::session session(user_agent);
    hopline::connection connection(session, 1, "127.0.0.1", port);
    const hopline::url url(1, port, "127.0.0.1", "", "", path.c_str());
    static const char* const accept[] = {"*/*", nullptr};
    auto ignore_header = [](const char*, std::size_t) {};
    auto ignore_length = [](std::uint32_t) {};
    auto ignore_data = [](const unsigned char*, std::uint32_t) {};
    hopline::get_request<decltype(ignore_header), decltype(ignore_length), decltype(ignore_data), std::uint32_t>
        request(connection, url, hopline::header_map(), accept, nullptr, nullptr, ignore_header, ignore_length,
                ignore_data, nullptr);
    request.send();
}

}  // namespace

std::string served_file(const std::string& path)
{
    return read_all(server_dir + "/www" + path);
}

std::uint64_t log_position()
{
    return read_all(server_dir + "/access.log").size();
}

std::vector<std::string> requests_since(std::uint64_t position)
{
    static unsigned counter = 0;
    const std::string marker = "/marker?" + std::to_string(GetCurrentProcessId()) + "-" + std::to_string(++counter);
    request_marker(marker);
    for (int attempt = 0; attempt < 100; ++attempt) {
        const std::string log = read_all(server_dir + "/access.log");
        if (log.find("GET " + marker + " ") != std::string::npos) {
            std::vector<std::string> lines;
            std::size_t start = position;
            while (start < log.size()) {
                std::size_t end = log.find('\n', start);
                if (end == std::string::npos)
                    end = log.size();
                // "METHOD URI STATUS BYTES": the tests look at the first
                // three. WinHTTP may send non-ASCII path bytes escaped or as
                // they are.
                std::string raw = log.substr(start, end - start);
                raw.erase(std::min(raw.size(), raw.rfind(' ')));
                const std::string line = percent_decoded(raw);
                if (line.find(" /marker?") == std::string::npos)
                    lines.push_back(line);
                start = end + 1;
            }
            return lines;
        }
        Sleep(50);
    }
    throw std::runtime_error("the marker request never reached the access log");
}

std::vector<std::string> matching(const std::vector<std::string>& lines, const std::string& prefix)
{
    std::vector<std::string> out;
    for (const std::string& line : lines) {
        const std::size_t space = line.find(' ');
        if (space != std::string::npos && line.compare(space + 1, prefix.size(), prefix) == 0)
            out.push_back(line);
    }
    return out;
}

}  // namespace fenrix::update_testing
