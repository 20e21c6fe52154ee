// A GET request: the body flows block by block into the caller's on_data.
// Construct, send(), read `status`; one fetch per object.
#pragma once

#include "http/request.hpp"

namespace hopline {

template <class OnHeader, class OnLength, class OnData, class T>
class get_request : public request<OnHeader, OnLength, OnData, T> {
public:
    // `accept_types` ends with a null entry; the proxy credentials may be
    // null (then the registry supplies them); `progress` may be null.
    get_request(hopline::connection& connection, const url& target, const header_map& headers,
                const char* const* accept_types, const char* proxy_user, const char* proxy_password,
                OnHeader& on_header, OnLength& on_length, OnData& on_data, fenrix::progress<T>* progress)
        : request<OnHeader, OnLength, OnData, T>(connection, on_header, on_length, on_data, progress)
    {
        this->prepare(L"GET", target, headers, accept_types, proxy_user, proxy_password);
    }
};

}  // namespace hopline
