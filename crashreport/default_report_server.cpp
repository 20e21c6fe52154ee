// Kept alone in its object file: a program that defines
// configured_report_server() itself makes the linker skip this one.
#include "crashreport/report_server.hpp"

brindlex::report_server_address brindlex::configured_report_server()
{
    // Set at build time (LUMORA_REPORT_HOST, LUMORA_REPORT_PORT).
    return {LUMORA_REPORT_HOST, LUMORA_REPORT_PORT};
}
