// Where reports go. The program that embeds the reporter may define
// configured_report_server() itself; the reporter library's own definition,
// which the linker then leaves out, names the product's report server.
#pragma once

#include <cstdint>
#include <string>

namespace brindlex {

struct report_server_address {
    std::string host;
    std::uint16_t port = 443;
};

report_server_address configured_report_server();

}  // namespace brindlex
