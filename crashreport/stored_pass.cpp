#include "crashreport/stored_pass.hpp"

#include <optional>
#include <string>
#include <vector>

#include "base/progress.hpp"
#include "crashreport/report_check.hpp"
#include "crashreport/report_sender.hpp"
#include "crashreport/report_writer.hpp"
#include "crashreport/reporter_state.hpp"
#include "crashreport/stored_files.hpp"
#include "crashreport/stored_policy.hpp"
#include "crashreport/upload_protocol.hpp"
#include "stream/memory_file.hpp"
#include "win/error.hpp"
#include "win/handle.hpp"

namespace brindlex {

namespace {

using namespace stored;

constexpr DWORD mutex_wait_ms = 1000;

bool is_set(HANDLE event)
{
    return WaitForSingleObject(event, 0) == WAIT_OBJECT_0;
}

class stop_polled : public fenrix::progress<std::uint32_t> {
public:
    explicit stop_polled(HANDLE stop) : stop(stop) {}
    bool cancel() override { return is_set(stop); }

private:
    HANDLE stop;
};

std::uint64_t now()
{
    FILETIME time;
    GetSystemTimeAsFileTime(&time);
    return std::uint64_t(time.dwHighDateTime) << 32 | time.dwLowDateTime;
}

class stored_sender {
public:
    explicit stored_sender(HANDLE stop) : stop(stop), cancellation(stop), body(4096)
    {
        sender.interactive = reporter().interactive;
        sender.cancellation = &cancellation;
    }

    void run(std::vector<stored_pair>& pairs, const std::vector<std::size_t>& order)
    {
        sender.init();
        for (const std::size_t index : order) {
            if (is_set(stop))
                return;
            // Whatever goes wrong with one pair, the next may fare better;
            // this one stays as it is for a later start, unless it was
            // removed.
            try {
                offer(pairs[index]);
            } catch (...) {
            }
        }
    }

private:
    // The status of the server's answer; none when there was none (no
    // connection, no name resolution, TLS, the stall bound, a stop).
    std::optional<std::uint16_t> post_body()
    {
        try {
            return sender.post(body);
        } catch (const std::exception&) {
            if (sender.last_status != 0)
                return sender.last_status;
            return std::nullopt;
        }
    }

    // Counts the offer before it is made: a sender that dies during the
    // upload has still used up one of the pair's starts. Returns whether the
    // server answered; an unanswered pair that has used up its starts is
    // dropped.
    std::optional<std::uint16_t> offer_loaded(stored_pair& pair)
    {
        ++pair.record.offers;
        write_record(pair);
        const std::optional<std::uint16_t> status = post_body();
        if (!status && pair.record.offers >= max_offers)
            remove_pair(pair);
        return status;
    }

    bool load(const stored_pair& pair, const wchar_t* extension, format::report_kind kind)
    {
        return load_report(pair.stem + extension, body) &&
            is_complete_report(body.bytes(), std::size_t(body.size()), kind);
    }

    void offer(stored_pair& pair)
    {
        if (!pair.record.bxr_asked) {
            if (!load(pair, L".bxo", format::bxo)) {
                remove_pair(pair);
                return;
            }
            const std::optional<std::uint16_t> status = offer_loaded(pair);
            if (!status)
                return;
            if (*status != upload::status_send_bxr || !pair.has_bxr) {
                remove_pair(pair);
                return;
            }
            // The .bxo report is answered; from now on only the .bxr report
            // is offered, with starts of its own.
            pair.record.bxr_asked = true;
            pair.record.offers = 0;
            write_record(pair);
        } else if (!pair.has_bxr) {
            remove_pair(pair);
            return;
        }
        if (!load(pair, L".bxr", format::bxr)) {
            remove_pair(pair);
            return;
        }
        if (offer_loaded(pair))
            remove_pair(pair);
    }

    HANDLE stop;
    stop_polled cancellation;
    report_sender sender;
    fenrix::stream::memory_file body;
};

}  // namespace

void run_stored_report_pass(HANDLE stop)
{
    wembra::win_handle<0> mutex(CreateMutexW(nullptr, FALSE, L"TeskPosiljanjeIzjem"));
    if (!mutex)
        throw wembra::win_runtime_error("Napaka pri stvaritvi ključavnice. Verjetno drug proces že pošilja izjeme.");
    wembra::mutex_locker locked(mutex.get(), mutex_wait_ms);

    std::wstring folder;
    folder.reserve(260);
    temp_folder(folder);
    std::vector<stored_pair> pairs = list_pairs(folder);

    std::vector<pair_state> states;
    for (const stored_pair& pair : pairs)
        states.push_back({pair.bxo_written, pair.record.offers});
    const pass_plan plan = plan_pass(states, now());
    for (const std::size_t index : plan.drop) {
        try {
            remove_pair(pairs[index]);
        } catch (const std::exception&) {
            // Tried again at the next start.
        }
    }
    // Nothing to send: no session, no network.
    if (plan.send.empty() || is_set(stop))
        return;
    stored_sender(stop).run(pairs, plan.send);
}

}  // namespace brindlex
