// The URL record through which every part of the program names an HTTP
// target: the HTTP client opens connections and requests from its fields.
#pragma once

#include <algorithm>
#include <cstdint>
#include <string>

#include "win/wiping_allocator.hpp"

namespace hopline {

template <class C>
struct basic_url {
    using string_type = std::basic_string<C>;
    // Password storage is overwritten with zeros whenever it is released,
    // including the old block when the string grows.
    using password_type = std::basic_string<C, std::char_traits<C>, wembra::wiping_allocator<C>>;

    // 0 for the empty record; 1 http, 2 https, 3 ws, 4 wss (2 and 4 use TLS).
    std::int32_t scheme = 0;
    std::uint16_t port = 0;
    // Host name, IPv4 text or IPv6 text without the square brackets.
    string_type host;
    string_type user;
    password_type password;
    // Everything after the authority: path, query and fragment together.
    string_type path;

    basic_url() = default;

    // Parses an http, https, ws or wss URL; a null or empty text gives the
    // empty record. Parts are copied as they stand in the text, nothing is
    // decoded. Throws std::runtime_error "Failed to parse URL" when no host
    // can be read, std::invalid_argument "Unrecognized scheme" for any other
    // scheme or none.
    explicit basic_url(const C* text);

    // Builds the record from parts, copied as they are; a null pointer counts
    // as the empty text.
    basic_url(int scheme, std::uint16_t port, const C* host, const C* user, const C* password, const C* path)
        : scheme(scheme), port(port), host(text_or_empty(host)), user(text_or_empty(user)), path(text_or_empty(path))
    {
        const C* secret = text_or_empty(password);
        assign_password(secret, std::char_traits<C>::length(secret));
    }

    // A copy of `base` with `suffix` appended to the path, such as the
    // signature file beside a download.
    basic_url(const basic_url& base, const C* suffix) : basic_url(base) { path += text_or_empty(suffix); }

    basic_url(const basic_url& other)
        : scheme(other.scheme), port(other.port), host(other.host), user(other.user), path(other.path)
    {
        assign_password(other.password.data(), other.password.size());
    }

    basic_url(basic_url&&) noexcept = default;

    basic_url& operator=(const basic_url& other)
    {
        if (this != &other) {
            scheme = other.scheme;
            port = other.port;
            host = other.host;
            user = other.user;
            assign_password(other.password.data(), other.password.size());
            path = other.path;
        }
        return *this;
    }

    basic_url& operator=(basic_url&&) noexcept = default;

    ~basic_url()
    {
        // A short password may sit in the string object itself rather than in
        // an allocated block, where the allocator cannot wipe it. Growing to
        // the capacity never reallocates and makes all of it writable.
        password.resize(password.capacity());
        wembra::secure_zero(password.data(), password.size() * sizeof(C));
    }

private:
    static const C* text_or_empty(const C* text)
    {
        static constexpr C empty[1] = {};
        return text ? text : empty;
    }

    // Keeps a non-empty password in an allocated block (beyond the string's
    // inline buffer), so that every copy of it is released through the wiping
    // allocator, also when it grows.
    void assign_password(const C* text, std::size_t length)
    {
        if (length > 0)
            password.reserve(std::max(length, password_type().capacity() + 1));
        password.assign(text, length);
    }
};

using url = basic_url<char>;

template <>
basic_url<char>::basic_url(const char* text);

}  // namespace hopline
