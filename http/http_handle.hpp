// The owning wrapper of one WinHTTP handle (session, connection or request).
#pragma once

#include <windows.h>
#include <winhttp.h>

#include <cstdint>

#include "win/handle.hpp"

namespace wembra {

class http : public handle<HINTERNET, 0> {
public:
    using handle::handle;
    http(http&& other) noexcept : handle(other.detach()) {}
    http& operator=(http&& other) noexcept
    {
        if (this != &other)
            attach(other.detach());
        return *this;
    }
    ~http() override { release_now(); }

protected:
    void free_internal() override { WinHttpCloseHandle(handle_); }
};

}  // namespace wembra
