// The Windows side of the test servers: reads the ports that the fixture of
// servers.cmake wrote (the file named by LUMORA_SERVERS_ENV) and gives the
// test pattern that the servers' files and routes are made of.
#pragma once

#include <cstdint>
#include <cstdlib>
#include <fstream>
#include <map>
#include <stdexcept>
#include <string>

namespace hopline::testing {

class test_servers {
public:
    test_servers()
    {
        const char* path = std::getenv("LUMORA_SERVERS_ENV");
        if (!path)
            throw std::runtime_error("LUMORA_SERVERS_ENV is not set: run the test through ctest");
        std::ifstream file(path);
        if (!file)
            throw std::runtime_error(std::string("cannot read ") + path);
        for (std::string line; std::getline(file, line);) {
            const std::size_t equals = line.find('=');
            if (equals != std::string::npos)
                values[line.substr(0, equals)] = line.substr(equals + 1);
        }
    }

    std::uint16_t port(const std::string& key) const { return std::uint16_t(std::stoul(value(key))); }

    const std::string& value(const std::string& key) const
    {
        const auto found = values.find(key);
        if (found == values.end())
            throw std::runtime_error("no " + key + " in the test servers' file");
        return found->second;
    }

private:
    std::map<std::string, std::string> values;
};

// Byte i of every test body: the same formula as pattern() in lumora_servers.py.
inline std::string pattern(std::size_t n)
{
    std::string bytes(n, '\0');
    for (std::size_t i = 0; i < n; ++i)
        bytes[i] = char((i * 131 + (i >> 8)) & 0xFF);
    return bytes;
}

}  // namespace hopline::testing
