// Child process of the update client tests: constructs an update client as
// the setup program does and prints what it saw, so that a test can run it
// under another Windows version setting.
#include <fcntl.h>
#include <io.h>

#include <cstdio>
#include <exception>

#include "base/exception_message.hpp"
#include "base/platform.hpp"
#include "update/update_client.hpp"

int main()
{
    _setmode(_fileno(stdout), _O_BINARY);  // the test compares bytes
    std::printf("os_name=%s\n", fenrix::os_name ? fenrix::os_name : "");
    try {
        fenrix::update_client client(false);
        std::printf("descriptor_text=%s\n", client.descriptor_text.c_str());
        return 0;
    } catch (const std::exception& e) {
        std::printf("error=%s\n", fenrix::exception_message(e).c_str());
        return 1;
    }
}
