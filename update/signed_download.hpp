// Fetches one file into a seekable stream and accepts it only when its
// detached Minisign signature, fetched first, verifies against a trusted key.
// Content already in the stream that verifies is kept without any transfer,
// so a package left by an earlier run is only hashed.
//
// Progress runs over 0 to 1000: the signature takes 0 to 100, the content
// (its check or its download) 100 to 1000.
//
// A download that fails, is cancelled or does not verify leaves the stream
// empty: none of it was verified, and a hostile server may send without end.
// A failure before the download (the signature, the check of what was
// there) leaves the stream as it was. Resuming (download_resume.hpp) keeps
// the bytes of a failed or cancelled transfer in a partial file of their
// own, never in the stream, until the whole file has verified.
#pragma once

#include <cstdint>
#include <cstdio>
#include <exception>
#include <limits>
#include <stdexcept>
#include <string>
#include <system_error>

#include "base/progress.hpp"
#include "http/get_request.hpp"
#include "http/header_map.hpp"
#include "http/session.hpp"
#include "parser/url.hpp"
#include "signature/minisign.hpp"
#include "stream/basic.hpp"
#include "stream/last_error.hpp"
#include "stream/memory_file.hpp"
#include "update/content_file.hpp"
#include "update/download_resume.hpp"
#include "update/resumable_fetch.hpp"
#include "update/signature_freshness.hpp"

namespace fenrix {

namespace signed_download_detail {

inline constexpr std::size_t block_size = 8192;

template <class Undo>
void undo_quietly(Undo& undo) noexcept
{
    try {
        undo();
    } catch (const std::exception&) {
        // The failure being reported says more than one of its clean-up.
    }
}

// Runs one phase; anything but a cancellation leaves it as `phase` with the
// cause nested, so the user reads e.g. "Failed to load content: 404".
template <class F>
void in_phase(const char* phase, F&& body)
{
    in_phase(phase, body, [] {});
}

// The same, with `undo` run first on any failure or cancellation. When undo
// fails too, the phase's own failure is still the one reported.
template <class F, class Undo>
void in_phase(const char* phase, F&& body, Undo&& undo)
{
    try {
        body();
    } catch (const user_cancelled&) {
        undo_quietly(undo);
        throw;
    } catch (...) {
        undo_quietly(undo);
        std::throw_with_nested(std::runtime_error(phase));
    }
}

inline void check_status(std::uint16_t status)
{
    if (status != 200)
        throw std::runtime_error(std::to_string(status));
}

struct no_header {
    void operator()(const char*, std::size_t) const {}
};

}  // namespace signed_download_detail

// The content phase with resume (download_signed's last step): fetches into
// the store's partial file, or into `output` when there is no store, and
// verifies the whole. Only a partial file that verified takes the package's
// place; `output` (which did not verify) is emptied first.
template <class T>
void download_resumable(hopline::connection& connection, const hopline::url& url, const hopline::header_map& headers,
                        const char* const* accept_types, const char* proxy_user, const char* proxy_password,
                        const minisign::signature& sig, const minisign::public_key& key, stream::basic_file& output,
                        std::string signature_bytes, global_progress<T>& global, std::uint64_t max_content_size,
                        signature_freshness* freshness, const download_resume& resume)
{
    namespace detail = signed_download_detail;
    resumable_fetch<T> fetch(connection, url, headers, accept_types, proxy_user, proxy_password, resume, output,
                             std::move(signature_bytes), global, max_content_size);
    const auto verifies = [&](const minisign::content_digest& digest) { return minisign::verify(sig, key, digest); };
    minisign::content_digest digest{};
    detail::in_phase(
        "Failed to load content",
        [&] {
            if (resume.store)
                detail::cut_at(output, 0);
            digest = fetch.run(verifies);
        },
        [&] { fetch.keep_or_discard(); });
    if (!verifies(digest)) {
        fetch.discard();
        throw std::runtime_error("Invalid Minisign signature");
    }
    if (freshness) {
        try {
            freshness->accept(digest);
        } catch (...) {
            fetch.discard();
            throw;
        }
    }
    if (resume.store)
        resume.store->promote();
}

// `max_content_size` bounds what an unverified response may make the client
// hold (the descriptor goes to memory); the package passes no bound. With
// `freshness`, the signature must also be current (signature_freshness.hpp).
// With `resume`, a broken transfer continues from the bytes it has
// (download_resume.hpp); without, every download starts at byte 0.
template <class T>
void download_signed(hopline::connection& connection, const hopline::url& url, const hopline::header_map& headers,
                     const char* const* accept_types, const char* proxy_user, const char* proxy_password,
                     const minisign::public_key* keys, std::size_t key_count, stream::basic_file& output,
                     progress<T>* progress, std::uint64_t max_content_size = std::numeric_limits<std::uint64_t>::max(),
                     signature_freshness* freshness = nullptr, const download_resume* resume = nullptr)
{
    namespace detail = signed_download_detail;
    global_progress<T> global(progress, 0, 1000);
    global.set_section(0, 100);

    // Signature phase: the file is small, so it is collected in memory, but
    // never beyond what a real signature file can hold.
    stream::memory_file signature_file;
    detail::in_phase("Failed to load Minisign signature", [&] {
        const hopline::url signature_url(url, ".minisig");
        static const char* const text_plain[] = {"text/plain", nullptr};
        detail::no_header on_header;
        auto on_length = [&](std::uint32_t length) {
            // A larger announcement fails with the first block beyond the
            // bound, or names the cut when the body ends first.
            if (length <= minisign::max_signature_file_size)
                signature_file.reserve(length);
        };
        auto on_data = [&](const unsigned char* data, std::uint32_t count) {
            if (signature_file.size() + count > minisign::max_signature_file_size)
                detail::throw_too_large("Minisign signature file", minisign::max_signature_file_size);
            signature_file.write(data, count);
            if (signature_file.state != stream::ok)
                throw std::system_error(stream::last_os_error(), std::system_category());
        };
        hopline::get_request<detail::no_header, decltype(on_length), decltype(on_data), T> request(
            connection, signature_url, headers, text_plain, proxy_user, proxy_password, on_header, on_length, on_data,
            &global);
        request.send();
        detail::check_status(request.status);
    });

    signature_file.seek(0);
    const minisign::signature sig = minisign::parse_signature(signature_file);
    const minisign::public_key& key = minisign::select_key(sig, keys, key_count);
    if (freshness)
        freshness->check_signature(signature_file, sig, key);
    global.set_section(100, 1000);

    // Content already present: a complete earlier download is kept untouched.
    {
        minisign::content_hash hash;
        global.set_range(0, T(output.size()));
        output.seek(0);
        unsigned char block[detail::block_size];
        std::uint64_t total = 0;
        while (output.state == stream::ok) {
            const std::size_t n = output.read(block, sizeof block);
            hash.update(block, n);
            if (progress && progress->cancel())
                throw user_cancelled("operation cancelled");
            total += n;
            if (progress)
                global.set(T(total));
        }
        const minisign::content_digest digest = hash.finish();
        if (minisign::verify(sig, key, digest)) {
            if (freshness)
                freshness->accept(digest);
            return;
        }
    }

    if (resume) {
        download_resumable(
            connection, url, headers, accept_types, proxy_user, proxy_password, sig, key, output,
            std::string(reinterpret_cast<const char*>(signature_file.bytes()), std::size_t(signature_file.size())),
            global, max_content_size, freshness, *resume);
        return;
    }

    minisign::content_hash hash;
    std::uint64_t written = 0;
    detail::in_phase(
        "Failed to load content",
        [&] {
            // What was there did not verify: the file now holds only what
            // arrives, and grows with it.
            detail::cut_at(output, 0);
            detail::no_header on_header;
            detail::no_length on_length;
            auto on_data = [&](const unsigned char* data, std::uint32_t count) {
                written += count;
                if (written > max_content_size)
                    detail::throw_too_large("Content", max_content_size);
                output.write(data, count);
                if (output.state != stream::ok)
                    throw std::system_error(stream::last_os_error(), std::system_category());
                hash.update(data, count);
            };
            hopline::get_request<detail::no_header, detail::no_length, decltype(on_data), T> request(
                connection, url, headers, accept_types, proxy_user, proxy_password, on_header, on_length, on_data,
                &global);
            request.send();
            detail::check_status(request.status);
        },
        [&] { detail::cut_at(output, 0); });

    const minisign::content_digest digest = hash.finish();
    if (!minisign::verify(sig, key, digest)) {
        detail::cut_at(output, 0);
        throw std::runtime_error("Invalid Minisign signature");
    }
    if (freshness) {
        // A signed file refused as stale or as another's is of no use either.
        try {
            freshness->accept(digest);
        } catch (...) {
            detail::cut_at(output, 0);
            throw;
        }
    }
}

}  // namespace fenrix
