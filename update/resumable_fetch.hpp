// The content phase of a signed download that continues from the bytes it
// has (download_resume.hpp). Each attempt is one GET: the first for the whole
// file, later ones for the rest with "Range: bytes=N-" and "If-Range" with
// the validator of the response the kept bytes came from. Only a 206 that
// continues exactly at N, with the same total, is appended; a 200 starts the
// file and the hash over; any other answer to a range drops the kept bytes,
// and the next attempt asks for the whole file again.
//
// An attempt is made again only after the transfer broke (a reset, a
// connection closed short of its length, a stall, any failure of the
// request itself), never after an answer refused outright, a failure of
// this side (a write, the record) or a cancel. At most max_fruitless
// attempts in a row may end without a byte beyond the furthest one reached;
// then the last attempt's error is the download's.
#pragma once

#include <windows.h>

#include <algorithm>
#include <cstdint>
#include <exception>
#include <limits>
#include <optional>
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
#include "update/content_file.hpp"
#include "update/download_resume.hpp"
#include "update/response_fields.hpp"
#include "update/resume_record.hpp"

namespace fenrix {

// The URL as a record names it: what the bytes were fetched from (the
// credentials stay out of it).
inline std::string resume_url_text(const hopline::url& url)
{
    return std::to_string(url.scheme) + " " + url.host + " " + std::to_string(url.port) + " " + url.path;
}

template <class T>
class resumable_fetch {
public:
    // `file`: where the bytes go when there is no store. `signature`: the
    // signature file's bytes, which a kept file must have been fetched for.
    resumable_fetch(hopline::connection& connection, const hopline::url& url, const hopline::header_map& headers,
                    const char* const* accept_types, const char* proxy_user, const char* proxy_password,
                    const download_resume& resume, stream::basic_file& file, std::string signature,
                    global_progress<T>& global, std::uint64_t max_content_size)
        : connection(connection), url(url), headers(headers), accept_types(accept_types), proxy_user(proxy_user),
          proxy_password(proxy_password), resume(resume), store(resume.store), file(&file),
          signature(std::move(signature)), global(global), max_content_size(max_content_size),
          url_text(resume_url_text(url))
    {
    }

    // Fetches until the whole content is in the file and returns its
    // digest. `verifies(digest)` tells whether a kept file already complete
    // is the content, so that it is not fetched again.
    template <class Verifies>
    minisign::content_digest run(Verifies&& verifies)
    {
        hash.emplace();
        if (store) {
            file = &store->partial();
            if (take_kept_bytes() && kept == total) {
                minisign::content_digest digest = hash->finish();
                if (verifies(digest))
                    return digest;
                start_over();
            }
        } else {
            start_over();
        }
        furthest = kept;
        bool retrying = false;
        for (;;) {
            if (attempt())
                return hash->finish();
            // Every byte announced is here: only the end of the exchange
            // broke, and the signature decides.
            if (total_known && kept == total && kept > 0)
                return hash->finish();
            if (kept > furthest) {
                furthest = kept;
                fruitless = 0;
            } else {
                ++fruitless;
            }
            const bool can_go_on = kept == 0 ? retrying : continuable();
            if (!can_go_on || fruitless >= resume.max_fruitless)
                std::rethrow_exception(last_error);
            retrying = true;
            pause(resume.first_wait_ms << std::min(fruitless, 8u));
        }
    }

    // After a failure or a cancel: bytes that a next run can continue stay
    // with their record; any others go.
    void keep_or_discard()
    {
        if (store && kept > 0 && record_stored && continuable())
            return;
        start_over();
    }

    // The bytes are not the content (they did not verify): they all go.
    void discard() { start_over(); }

private:
    enum class answer { undecided, appending, whole, refused, final };

    // A record that matches the URL and the signature fetched now, with a
    // file no longer than its total: the file is hashed from byte 0 and the
    // download goes on after it. Anything else is dropped.
    bool take_kept_bytes()
    {
        const std::optional<resume_record> record = store->load_record();
        const std::uint64_t size = file->size();
        if (!record || record->url != url_text || record->signature != signature || record->validator.empty() ||
            size == 0 || size == stream::npos || size > record->total) {
            start_over();
            return false;
        }
        global.set_range(0, clamped(record->total));
        file->seek(0);
        unsigned char block[8192];
        std::uint64_t hashed = 0;
        while (file->state == stream::ok && hashed < size) {
            const std::size_t n = file->read(block, std::size_t(std::min<std::uint64_t>(sizeof block, size - hashed)));
            hash->update(block, n);
            hashed += n;
            if (global.cancel())
                throw user_cancelled("operation cancelled");
            global.set(clamped(hashed));
            if (n == 0)
                break;
        }
        if (hashed != size) {
            start_over();
            return false;
        }
        kept = size;
        validator = record->validator;
        total = record->total;
        total_known = true;
        record_stored = true;
        return true;
    }

    // One GET; true when the content is complete.
    bool attempt()
    {
        const bool ranged = kept > 0;
        hopline::header_map request_headers = headers;
        if (ranged) {
            request_headers["Range"] = "bytes=" + std::to_string(kept) + "-";
            request_headers["If-Range"] = validator;
        }
        response_fields fields;
        answer reply = answer::undecided;
        bool started = false;
        // Set while this side works on a block: what it throws is its own
        // failure, which no further attempt would mend.
        bool own_failure = false;
        offset_progress<T> shown(global);

        auto decide = [&] {
            const content_range continuing{kept, total - 1, total};
            if (ranged && fields.status == 206 && fields.range && *fields.range == continuing) {
                reply = answer::appending;
                shown.offset = kept;
            } else if (fields.status == 200) {
                reply = answer::whole;
            } else if (ranged) {
                reply = answer::refused;
                throw std::runtime_error(fields.status == 206
                                             ? "206 for another range than bytes=" + std::to_string(kept) + "-"
                                             : std::to_string(fields.status));
            } else {
                reply = answer::final;
                throw std::runtime_error(std::to_string(fields.status));
            }
        };
        // The bytes are taken on the requesting thread, after the whole head.
        auto begin = [&] {
            if (started)
                return;
            started = true;
            if (reply == answer::whole)
                take_whole_file(fields);
            else if (file->seek(std::int64_t(kept)) != kept || file->state != stream::ok)
                throw std::system_error(stream::last_os_error(), std::system_category(), "seek failed");
        };
        // The head is judged at its end, before the request sets its range
        // on the progress: a resumed range then shows on the whole scale.
        auto on_header = [&](const char* line, std::size_t length) {
            if (fields.add_line(std::string_view(line, length)) && reply == answer::undecided)
                decide();
        };
        signed_download_detail::no_length on_length;
        auto on_data = [&](const unsigned char* data, std::uint32_t count) {
            if (reply == answer::undecided)
                decide();
            own_failure = true;
            begin();
            if ((total_known && count > total - kept) || count > max_content_size - kept)
                signed_download_detail::throw_too_large("Content", total_known ? total : max_content_size);
            file->write(data, count);
            if (file->state != stream::ok)
                throw std::system_error(stream::last_os_error(), std::system_category());
            hash->update(data, count);
            kept += count;
            own_failure = false;
        };

        try {
            hopline::get_request<decltype(on_header), signed_download_detail::no_length, decltype(on_data), T> request(
                connection, url, request_headers, accept_types, proxy_user, proxy_password, on_header, on_length,
                on_data, &shown);
            request.send();
            if (reply == answer::undecided) {
                fields.status = request.status;
                decide();
            }
            own_failure = true;
            begin();
            own_failure = false;
            // A range sent without a length of its own may end early.
            if (total_known && kept < total)
                throw std::runtime_error(hopline::cut_short_text(kept, total));
            return true;
        } catch (const user_cancelled&) {
            throw;
        } catch (...) {
            if (own_failure || reply == answer::final)
                throw;
            if (reply == answer::refused)
                start_over();
            last_error = std::current_exception();
            return false;
        }
    }

    // A 200: the file and the hash start over with its bytes, and the record
    // names them before the first of them is written.
    void take_whole_file(const response_fields& fields)
    {
        start_over();
        validator = fields.validator();
        total_known = fields.content_length.has_value();
        total = total_known ? *fields.content_length : 0;
        if (store && continuable_content()) {
            store->save_record({url_text, validator, total, signature});
            record_stored = true;
        }
    }

    // Drops every kept byte and the record: the file is empty, the hash new.
    void start_over()
    {
        if (store)
            store->forget_record();
        record_stored = false;
        signed_download_detail::cut_at(*file, 0);
        hash.emplace();
        kept = 0;
        validator.clear();
        total = 0;
        total_known = false;
    }

    // A range can be asked for the rest of these bytes.
    bool continuable_content() const { return !validator.empty() && total_known; }
    bool continuable() const { return continuable_content() && kept < total; }

    // Waits before the next attempt, looking at Cancel as often as a
    // request does.
    void pause(std::uint32_t milliseconds)
    {
        const DWORD start = GetTickCount();
        for (;;) {
            if (global.cancel())
                throw user_cancelled("operation cancelled");
            const DWORD elapsed = GetTickCount() - start;
            if (elapsed >= milliseconds)
                return;
            Sleep(std::min<DWORD>(hopline::watch_interval_ms, milliseconds - elapsed));
        }
    }

    static T clamped(std::uint64_t value)
    {
        constexpr std::uint64_t largest = std::numeric_limits<T>::max();
        return T(std::min(value, largest));
    }

    hopline::connection& connection;
    const hopline::url& url;
    const hopline::header_map& headers;
    const char* const* accept_types;
    const char* proxy_user;
    const char* proxy_password;
    const download_resume& resume;
    partial_store* store;
    stream::basic_file* file;
    const std::string signature;
    global_progress<T>& global;
    const std::uint64_t max_content_size;
    const std::string url_text;

    std::optional<minisign::content_hash> hash;
    // Bytes in the file and in the hash.
    std::uint64_t kept = 0;
    std::uint64_t furthest = 0;
    unsigned fruitless = 0;
    std::string validator;
    std::uint64_t total = 0;
    bool total_known = false;
    bool record_stored = false;
    std::exception_ptr last_error;
};

}  // namespace fenrix
