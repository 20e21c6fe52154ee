// Resumed package downloads against real servers: the scriptable server
// (resume_routes.py) breaks, refuses or alters transfers of the signed files
// of the update server's tree; nginx serves ranges by itself.
#include <windows.h>

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <functional>
#include <optional>
#include <string>
#include <vector>

#include "base/exception_message.hpp"
#include "http/tests/servers/test_servers.hpp"
#include "signature/trusted_keys.hpp"
#include "stream/file.hpp"
#include "stream/memory_file.hpp"
#include "update/partial_package.hpp"
#include "update/signed_download.hpp"
#include "update/tests/test_server.hpp"

namespace {

using namespace fenrix;
using ::testing::ElementsAre;
using ::testing::SizeIs;
using ::testing::StartsWith;

// The signed file every case fetches (1 MiB), read once the tests run.
const std::string& served_big()
{
    static const std::string bytes = update_testing::served_file("/dl/big.bin");
    return bytes;
}

// One request for the file as the route logged it.
struct logged {
    std::string range;
    std::string if_range;
    std::string status;
    std::uint64_t sent;
};

// Reports as the dialog would see them; cancels when `cancel_when` says so.
class recording_progress : public progress<unsigned int> {
public:
    void set_range(unsigned int start, unsigned int end) override { ranges.push_back({start, end}); }
    void set(unsigned int value) override
    {
        values.push_back(value);
        latest = value;
        last_set = GetTickCount();
        if (on_set)
            on_set(value);
    }
    // Asked on WinHTTP's threads too: it reads only the atomics.
    bool cancel() override { return cancel_when && cancel_when(*this); }

    std::vector<std::pair<unsigned int, unsigned int>> ranges;
    std::vector<unsigned int> values;
    std::atomic<unsigned int> latest{0};
    std::atomic<DWORD> last_set{GetTickCount()};
    std::function<bool(recording_progress&)> cancel_when;
    // On the requesting thread, after each block's report.
    std::function<void(unsigned int)> on_set;
};

class resumed_download : public ::testing::Test {
protected:
    hopline::testing::test_servers servers;
    hopline::session session{update_testing::user_agent};
    hopline::connection script{session, 1, "127.0.0.1", servers.port("SCRIPT_PORT")};
    std::string token = test_token();
    download_resume resume;

    // The route's state is per token: one per test and process.
    static std::string test_token()
    {
        const ::testing::TestInfo* info = ::testing::UnitTest::GetInstance()->current_test_info();
        std::string name = std::to_string(GetCurrentProcessId()) + "-" + info->test_suite_name() + "-" + info->name();
        std::replace(name.begin(), name.end(), '/', '-');
        return name;
    }

    std::string path(const std::string& behaviour) const
    {
        return "/resume/" + token + "/" + behaviour + "/dl/big.bin";
    }

    // The error text the user would read, empty on success.
    std::string download(const std::string& url_path, stream::basic_file& output, const download_resume* with,
                         progress<unsigned int>* progress = nullptr)
    {
        const hopline::url url(1, script.port, "127.0.0.1", "", "", url_path.c_str());
        static const char* const accept[] = {"application/octet-stream", nullptr};
        try {
            download_signed<unsigned int>(script, url, hopline::header_map(), accept, nullptr, nullptr,
                                          minisign::trusted_keys, minisign::trusted_key_count, output, progress,
                                          UINT64_MAX, nullptr, with);
            return "";
        } catch (const std::exception& e) {
            return exception_message(e);
        }
    }

    std::string get(const std::string& url_path)
    {
        const hopline::url url(1, script.port, "127.0.0.1", "", "", url_path.c_str());
        static const char* const accept[] = {"*/*", nullptr};
        std::string body;
        auto on_header = [](const char*, std::size_t) {};
        auto on_length = [](std::uint32_t) {};
        auto on_data = [&](const unsigned char* data, std::uint32_t count) {
            body.append(reinterpret_cast<const char*>(data), count);
        };
        hopline::get_request<decltype(on_header), decltype(on_length), decltype(on_data), std::uint32_t> request(
            script, url, hopline::header_map(), accept, nullptr, nullptr, on_header, on_length, on_data, nullptr);
        request.send();
        return body;
    }

    std::vector<logged> requests()
    {
        std::vector<logged> out;
        const std::string text = get("/resume-log/" + token);
        std::size_t start = 0;
        while (start < text.size()) {
            const std::size_t end = text.find('\n', start);
            std::vector<std::string> parts;
            std::size_t field = start;
            for (std::size_t bar; (bar = text.find('|', field)) < end; field = bar + 1)
                parts.push_back(text.substr(field, bar - field));
            parts.push_back(text.substr(field, end - field));
            out.push_back({parts.at(0), parts.at(1), parts.at(2), std::stoull(parts.at(3))});
            start = end + 1;
        }
        return out;
    }

    std::string etag() const { return "\"" + token + "-1\""; }

    static std::string contents(stream::memory_file& file)
    {
        return std::string(reinterpret_cast<const char*>(file.bytes()), std::size_t(file.size()));
    }
};

std::uint64_t range_start(const logged& request)
{
    return request.range.rfind("bytes=", 0) == 0 ? std::stoull(request.range.substr(6)) : 0;
}

// ---------------------------------------------------------------------------
// Within one run

struct within_run_case {
    const char* name;
    const char* behaviour;
    const char* error;  // empty: the file arrives whole and verifies
    // Status of each request for the file, the first one for the whole file.
    std::vector<std::string> statuses;
};

class within_run : public resumed_download, public ::testing::WithParamInterface<within_run_case> {};

TEST_P(within_run, continues_from_the_bytes_it_has)
{
    const within_run_case& c = GetParam();
    session.bound = {1500, 1024};  // the stall case's silence ends here
    stream::memory_file output;
    const std::string error = download(path(c.behaviour), output, &resume);
    if (!*c.error) {
        EXPECT_EQ(error, "");
        EXPECT_TRUE(contents(output) == served_big()) << "the file as served";
    } else {
        EXPECT_THAT(error, StartsWith(c.error));
        EXPECT_EQ(output.size(), 0u) << "nothing unverified is left";
    }
    const std::vector<logged> log = requests();
    ASSERT_THAT(log, SizeIs(c.statuses.size()));
    for (std::size_t i = 0; i < log.size(); ++i) {
        EXPECT_EQ(log[i].status, c.statuses[i]) << "request " << i;
        if (i == 0 || log[i - 1].status != "200" || log[i].range.empty())
            continue;
        // A range continues at what arrived, which is what was sent at most;
        // it names the first response's validator.
        EXPECT_GT(range_start(log[i]), 0u);
        EXPECT_LE(range_start(log[i]), log[i - 1].sent);
        EXPECT_EQ(log[i].if_range, etag());
    }
}

INSTANTIATE_TEST_SUITE_P(
    server, within_run,
    ::testing::Values(within_run_case{"reset_then_good_resume", "reset-once", "", {"200", "206"}},
                      within_run_case{"closed_short_then_good_resume", "cut-once", "", {"200", "206"}},
                      within_run_case{"stall_then_good_resume", "stall-once", "", {"200", "206"}},
                      // A server that ignores Range: its 200 starts the file and the hash over.
                      within_run_case{"range_ignored", "ignore-range", "", {"200", "200"}},
                      // A 206 that does not continue where the bytes end: they are dropped,
                      // and the file is asked for whole.
                      within_run_case{"wrong_content_range", "wrong-range", "", {"200", "206", "200"}},
                      within_run_case{"other_total", "other-total", "", {"200", "206", "200"}},
                      within_run_case{"tampered_tail", "tampered-tail", "Invalid Minisign signature", {"200", "206"}},
                      // The first break brought bytes, three more in a row brought none:
                      // the last attempt's error is the download's.
                      within_run_case{
                          "retries_run_out", "reset-always", "Failed to load content: ", {"200", "206", "206", "206"}},
                      // Nothing names the bytes kept: a range for them could be of
                      // another file, so the break ends the download, as without resume.
                      within_run_case{"no_validator", "no-validator", "Failed to load content: ", {"200"}}),
    [](const auto& info) { return std::string(info.param.name); });

// The default build: one transfer, and its break is the download's end.
TEST_F(resumed_download, without_resume_a_break_ends_the_download)
{
    stream::memory_file output;
    EXPECT_THAT(download(path("reset-once"), output, nullptr), StartsWith("Failed to load content: "));
    EXPECT_EQ(output.size(), 0u);
    const std::vector<logged> log = requests();
    ASSERT_THAT(log, SizeIs(1));
    EXPECT_EQ(log[0].range, "");
}

TEST_F(resumed_download, the_bar_does_not_go_back_on_a_resume)
{
    recording_progress progress;
    stream::memory_file output;
    ASSERT_EQ(download(path("reset-once"), output, &resume, &progress), "");
    ASSERT_THAT(requests(), SizeIs(2));
    std::vector<unsigned int> content;
    std::copy_if(progress.values.begin(), progress.values.end(), std::back_inserter(content),
                 [](unsigned int v) { return v > 100; });
    ASSERT_FALSE(content.empty());
    for (std::size_t i = 1; i < content.size(); ++i)
        ASSERT_GE(content[i], content[i - 1]) << "report " << i;
    EXPECT_EQ(content.back(), 1000u);
    // Both halves moved the bar: reports below and above the middle.
    EXPECT_LT(content.front(), 600u);
    EXPECT_GT(std::count_if(content.begin(), content.end(), [](unsigned int v) { return v > 600 && v < 1000; }), 0);
}

// Cancel while the download waits to try again: no further request is
// made. The wait is long here, so that the Cancel falls into it.
TEST_F(resumed_download, cancel_during_the_wait_before_a_resume)
{
    resume.first_wait_ms = 8000;
    recording_progress progress;
    // A second after the last report: the transfer broke, the wait runs.
    progress.cancel_when = [](recording_progress& p) { return p.latest > 100 && GetTickCount() - p.last_set > 1000; };
    stream::memory_file output;
    const DWORD start = GetTickCount();
    EXPECT_EQ(download(path("reset-once"), output, &resume, &progress), "operation cancelled");
    const DWORD taken = GetTickCount() - start;
    EXPECT_THAT(requests(), SizeIs(1)) << "no resume was asked for";
    EXPECT_LT(taken, 8000u) << "the wait did not run out";
    EXPECT_EQ(output.size(), 0u);
}

// ---------------------------------------------------------------------------
// Across runs: a partial file and its record beside the package

class across_runs : public resumed_download {
public:
    std::wstring package_path;
    stream::file package;
    std::optional<partial_package> store;

    void SetUp() override
    {
        wchar_t folder[MAX_PATH];
        GetTempPathW(MAX_PATH, folder);
        package_path = std::wstring(folder) + L"lumora-resume-" + std::to_wstring(GetCurrentProcessId()) + L".msi";
        clean();
        open_run();
    }
    void TearDown() override
    {
        store.reset();
        package.close();
        clean();
    }
    void clean()
    {
        for (const wchar_t* suffix : {L"", L".partial", L".partial.record", L".partial.record.new"})
            DeleteFileW((package_path + suffix).c_str());
    }
    // What the program does at each start: opens the package and the store.
    void open_run()
    {
        store.reset();
        package.close();
        package.open(package_path.c_str(), 0x8193);
        ASSERT_TRUE(package.is_open());
        store.emplace(package_path, package);
        resume.store = &*store;
    }
    std::string run(const std::string& url_path, progress<unsigned int>* progress = nullptr)
    {
        const std::string error = download(url_path, package, &resume, progress);
        if (!error.empty())
            store->tidy();
        return error;
    }
    static std::string read_file(const std::wstring& path)
    {
        stream::file file(path.c_str(),
                          stream::mode_read | stream::mode_open_existing | stream::mode_share_read |
                              stream::mode_share_write | stream::mode_share_delete);
        if (!file.is_open())
            return "(none)";
        std::string out(std::size_t(file.size()), '\0');
        file.read_array(out.data(), 1, out.size());
        return out;
    }
    static void write_file(const std::wstring& path, const std::string& bytes)
    {
        stream::file file(path.c_str(), stream::mode_write | stream::mode_create_always);
        ASSERT_TRUE(file.is_open());
        file.write(bytes.data(), bytes.size());
    }
    bool exists(const std::wstring& path) const { return GetFileAttributesW(path.c_str()) != INVALID_FILE_ATTRIBUTES; }
    std::wstring partial_path() const { return package_path + L".partial"; }
    std::wstring record_path() const { return package_path + L".partial.record"; }

    // A first run that breaks at half and is not continued in the run.
    std::uint64_t break_first_run(const std::string& behaviour)
    {
        resume.max_fruitless = 0;
        EXPECT_THAT(run(path(behaviour)), StartsWith("Failed to load content: "));
        resume.max_fruitless = 3;
        const std::string kept = read_file(partial_path());
        EXPECT_GT(kept.size(), 0u);
        EXPECT_LT(kept.size(), served_big().size());
        EXPECT_TRUE(kept == served_big().substr(0, kept.size())) << "the partial file holds the file's first bytes";
        EXPECT_EQ(read_file(package_path), "") << "the package file holds nothing unverified";
        return kept.size();
    }
};

TEST_F(across_runs, a_run_cut_at_half_and_the_next_fetch_the_file_once_in_all)
{
    const std::uint64_t kept = break_first_run("reset-once");
    const std::optional<resume_record> record = store->load_record();
    ASSERT_TRUE(record);
    EXPECT_EQ(record->validator, etag());
    EXPECT_EQ(record->total, served_big().size());
    EXPECT_TRUE(record->signature == update_testing::served_file("/dl/big.bin.minisig"));

    open_run();
    EXPECT_EQ(run(path("reset-once")), "");
    EXPECT_TRUE(read_file(package_path) == served_big());
    EXPECT_FALSE(exists(partial_path())) << "the verified partial file became the package";
    EXPECT_FALSE(exists(record_path()));
    const std::vector<logged> log = requests();
    ASSERT_THAT(log, SizeIs(2));
    EXPECT_EQ(log[1].range, "bytes=" + std::to_string(kept) + "-");
    EXPECT_EQ(log[1].if_range, etag());
    EXPECT_EQ(log[1].status, "206");
    EXPECT_EQ(kept + log[1].sent, served_big().size()) << "the second run fetched only the rest";
}

TEST_F(across_runs, a_cancelled_run_keeps_its_bytes_for_the_next)
{
    recording_progress progress;
    progress.cancel_when = [](recording_progress& p) { return p.latest > 400; };
    EXPECT_EQ(run(path("honest"), &progress), "operation cancelled");
    const std::uint64_t kept = read_file(partial_path()).size();
    EXPECT_GT(kept, 0u);
    EXPECT_TRUE(store->load_record());

    open_run();
    EXPECT_EQ(run(path("honest")), "");
    EXPECT_TRUE(read_file(package_path) == served_big());
    const std::vector<logged> log = requests();
    ASSERT_THAT(log, SizeIs(2));
    EXPECT_EQ(log[1].range, "bytes=" + std::to_string(kept) + "-");
}

// A run killed half way gets no chance to tidy up: what it leaves is the
// partial file and the record as they stand at that moment. The record is
// written before the first byte, so the next run continues from them.
TEST_F(across_runs, a_killed_run_leaves_what_the_next_continues)
{
    std::string partial_then;
    std::string record_then;
    recording_progress progress;
    progress.on_set = [&](unsigned int value) {
        if (value > 500 && partial_then.empty()) {
            partial_then = read_file(partial_path());
            record_then = read_file(record_path());
        }
    };
    ASSERT_EQ(run(path("honest"), &progress), "");
    ASSERT_GT(partial_then.size(), 0u);
    ASSERT_LT(partial_then.size(), served_big().size());
    ASSERT_NE(record_then, "(none)");

    store.reset();
    package.close();
    clean();
    write_file(partial_path(), partial_then);
    write_file(record_path(), record_then);
    open_run();
    EXPECT_EQ(run(path("honest")), "");
    EXPECT_TRUE(read_file(package_path) == served_big());
    const std::vector<logged> log = requests();
    ASSERT_THAT(log, SizeIs(2));
    EXPECT_EQ(log[1].range, "bytes=" + std::to_string(partial_then.size()) + "-");
    EXPECT_EQ(log[1].status, "206");
}

// The file changed on the server (a new ETag) between the runs: the server
// answers the range with the whole file, which starts over.
TEST_F(across_runs, a_changed_file_is_fetched_whole)
{
    break_first_run("reset-once");
    get("/resume-etag/" + token + "/changed");
    open_run();
    EXPECT_EQ(run(path("reset-once")), "");
    EXPECT_TRUE(read_file(package_path) == served_big());
    const std::vector<logged> log = requests();
    ASSERT_THAT(log, SizeIs(2));
    EXPECT_EQ(log[1].if_range, etag()) << "the old validator was sent";
    EXPECT_EQ(log[1].status, "200");
    EXPECT_EQ(log[1].sent, served_big().size());
}

TEST_F(across_runs, a_tampered_tail_fails_and_leaves_nothing)
{
    break_first_run("tampered-tail");
    open_run();
    EXPECT_EQ(run(path("tampered-tail")), "Invalid Minisign signature");
    EXPECT_FALSE(exists(partial_path()));
    EXPECT_FALSE(exists(record_path()));
    store.reset();
    package.close();
    EXPECT_EQ(read_file(package_path), "") << "the package file holds nothing";
}

// A kept file that is already whole is only verified.
TEST_F(across_runs, a_complete_partial_file_is_verified_without_a_transfer)
{
    break_first_run("reset-once");
    {
        stream::file partial(partial_path().c_str(), 0x8193);
        partial.seek(0);
        partial.write(served_big().data(), served_big().size());
    }
    open_run();
    EXPECT_EQ(run(path("reset-once")), "");
    EXPECT_TRUE(read_file(package_path) == served_big());
    EXPECT_THAT(requests(), SizeIs(1)) << "only the first run's request";
}

// Whatever does not match exactly: the partial file and its record are
// deleted and the file is fetched whole, without a range.
struct untrusted_case {
    const char* name;
    void (*spoil)(across_runs& test);
};

class untrusted_leftover : public across_runs, public ::testing::WithParamInterface<untrusted_case> {
public:
    void change_record(void (*change)(resume_record&))
    {
        std::optional<resume_record> record = store->load_record();
        ASSERT_TRUE(record);
        change(*record);
        store->save_record(*record);
    }
    void append_to_partial(const std::string& bytes)
    {
        stream::file partial(partial_path().c_str(), 0x8193);
        partial.seek(0, stream::end);
        partial.write(bytes.data(), bytes.size());
    }
    void flip_record_byte()
    {
        std::string bytes = read_file(record_path());
        bytes[bytes.size() / 2] ^= 1;
        stream::file record(record_path().c_str(), stream::mode_write | stream::mode_truncate_existing);
        record.write(bytes.data(), bytes.size());
    }
};

TEST_P(untrusted_leftover, is_deleted_and_the_file_fetched_whole)
{
    break_first_run("reset-once");
    GetParam().spoil(*this);
    open_run();
    EXPECT_EQ(run(path("reset-once")), "");
    EXPECT_TRUE(read_file(package_path) == served_big());
    EXPECT_FALSE(exists(partial_path()));
    EXPECT_FALSE(exists(record_path()));
    const std::vector<logged> log = requests();
    ASSERT_THAT(log, SizeIs(2));
    EXPECT_EQ(log[1].range, "") << "no range for bytes that are not trusted";
    EXPECT_EQ(log[1].status, "200");
}

INSTANTIATE_TEST_SUITE_P(
    leftovers, untrusted_leftover,
    ::testing::Values(
        untrusted_case{"other_signature",
                       [](across_runs& t) {
                           static_cast<untrusted_leftover&>(t).change_record(
                               [](resume_record& r) { r.signature[r.signature.size() / 2] ^= 1; });
                       }},
        untrusted_case{"other_url",
                       [](across_runs& t) {
                           static_cast<untrusted_leftover&>(t).change_record([](resume_record& r) { r.url += "x"; });
                       }},
        untrusted_case{"partial_longer_than_the_total",
                       [](across_runs& t) {
                           static_cast<untrusted_leftover&>(t).append_to_partial(std::string(served_big().size(), 'x'));
                       }},
        untrusted_case{"broken_record", [](across_runs& t) { static_cast<untrusted_leftover&>(t).flip_record_byte(); }},
        untrusted_case{"no_record",
                       [](across_runs& t) { DeleteFileW((t.package_path + L".partial.record").c_str()); }}),
    [](const auto& info) { return std::string(info.param.name); });

}  // namespace
