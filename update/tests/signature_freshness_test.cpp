// Signature freshness against nginx on 127.0.0.1 serving files signed by the
// minisign program (update_server.sh): first the signed download with the
// checks given explicitly, then the update client of a build that has them
// on (floor 1500000000), with its record in the test prefix's user hive.
#include <windows.h>

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <optional>
#include <string>
#include <vector>

#include "base/exception_message.hpp"
#include "signature/trusted_keys.hpp"
#include "stream/memory_file.hpp"
#include "update/freshness_record.hpp"
#include "update/freshness_rules.hpp"
#include "update/signature_policy.hpp"
#include "update/signed_download.hpp"
#include "update/tests/channel_setting.hpp"
#include "update/tests/test_server.hpp"
#include "update/update_client.hpp"

namespace {

using namespace fenrix;
using namespace fenrix::update_testing;
using ::testing::IsEmpty;

const char* const another_file = "Minisign signature is for another file";
const char* const below_floor = "Minisign signature is older than this program accepts";
const char* const replayed = "Minisign signature is older than one already accepted";
const char* const invalid = "Invalid Minisign signature";
const char* const not_listed_hash = "Package does not match its descriptor";

// Any time minisign wrote when the tree was signed at test time.
constexpr std::uint64_t signed_today = UINT64_MAX;

minisign::content_digest digest_of(const std::string& content)
{
    minisign::content_hash hash;
    hash.update(content.data(), content.size());
    return hash.finish();
}

void clear_records()
{
    RegDeleteTreeW(HKEY_CURRENT_USER, accepted_signatures_key);
}

// Checks the record of `path`: none for 0, a time of this era for
// signed_today, else that time.
void expect_record(const std::string& path, std::uint64_t expected)
{
    const std::optional<std::uint64_t> recorded = accepted_signature_time(path);
    if (expected == 0) {
        EXPECT_FALSE(recorded.has_value()) << path << " recorded " << *recorded;
    } else if (expected == signed_today) {
        ASSERT_TRUE(recorded.has_value()) << path;
        EXPECT_GT(*recorded, 1700000000u) << path;
    } else {
        EXPECT_EQ(recorded, expected) << path;
    }
}

std::string download(const std::string& path, stream::basic_file& output, signature_freshness& freshness)
{
    hopline::session session(user_agent);
    hopline::connection connection(session, 1, "127.0.0.1", port);
    const hopline::url url(1, port, "127.0.0.1", "", "", path.c_str());
    static const char* const accept[] = {"application/octet-stream", nullptr};
    try {
        download_signed<unsigned int>(connection, url, hopline::header_map(), accept, nullptr, nullptr,
                                      minisign::trusted_keys, minisign::trusted_key_count, output, nullptr, UINT64_MAX,
                                      &freshness);
        return "";
    } catch (const std::exception& e) {
        return exception_message(e);
    }
}

enum class listing { none, own_hash, other_hash, unreadable_hash };

struct freshness_case {
    const char* name;
    const char* path;
    std::optional<std::uint64_t> recorded_before;
    std::uint64_t floor;
    listing listed;
    bool local_copy;               // the output already holds the served file
    const char* error;             // empty: accepted
    std::uint64_t recorded_after;  // 0: nothing
    bool content_requested;
};

class download_freshness : public ::testing::TestWithParam<freshness_case> {};

TEST_P(download_freshness, verdict_record_and_requests)
{
    const freshness_case& c = GetParam();
    clear_records();
    if (c.recorded_before)
        record_accepted_signature_time(c.path, *c.recorded_before);
    // The server's file and its log show the path with escapes decoded.
    const std::string decoded_path = percent_decoded(c.path);
    const std::string served = served_file(decoded_path);

    std::optional<descriptor_package> line;
    if (c.listed == listing::own_hash)
        line = descriptor_package{"x", digest_of(served)};
    else if (c.listed == listing::other_hash)
        line = descriptor_package{"x", digest_of(served + "x")};
    else if (c.listed == listing::unreadable_hash)
        line = descriptor_package{"x", std::nullopt};
    signature_freshness freshness(c.path, c.floor, line ? &*line : nullptr);

    stream::memory_file output;
    if (c.local_copy)
        output.write(served.data(), served.size());
    const std::uint64_t position = log_position();
    EXPECT_EQ(download(c.path, output, freshness), c.error);
    EXPECT_EQ(matching(requests_since(position), decoded_path + " ").size(), c.content_requested ? 1u : 0u);
    expect_record(c.path, c.recorded_after ? c.recorded_after : (c.recorded_before ? *c.recorded_before : 0));
}

INSTANTIATE_TEST_SUITE_P(
    server, download_freshness,
    ::testing::Values(
        freshness_case{"current", "/fresh/new.bin", std::nullopt, 0, listing::none, false, "", 1800000000, true},
        freshness_case{"same_time_again", "/fresh/new.bin", 1800000000u, 0, listing::none, false, "", 0, true},
        freshness_case{"newer_than_recorded", "/fresh/new.bin", 1700000000u, 0, listing::none, false, "", 1800000000,
                       true},
        freshness_case{"replayed_older", "/fresh/new.bin", 1900000000u, 0, listing::none, false, replayed, 0, false},
        freshness_case{"floor_newer_than_signature", "/fresh/new.bin", std::nullopt, 1800000001, listing::none, false,
                       below_floor, 0, false},
        freshness_case{"floor_at_signature", "/fresh/new.bin", std::nullopt, 1800000000, listing::none, false, "",
                       1800000000, true},
        freshness_case{"signature_of_another_file", "/fresh/swapped.bin", std::nullopt, 0, listing::none, false,
                       another_file, 0, false},
        freshness_case{"altered_trusted_comment", "/dl/altered-trusted.bin", std::nullopt, 0, listing::none, false,
                       invalid, 0, false},
        freshness_case{"no_global_signature", "/fresh/no-global.bin", std::nullopt, 0, listing::none, false, invalid, 0,
                       false},
        freshness_case{"no_trusted_comment", "/fresh/no-comment.bin", std::nullopt, 0, listing::none, false, invalid, 0,
                       false},
        freshness_case{"legacy_refused_first", "/dl/legacy.bin", std::nullopt, 0, listing::none, false,
                       "Unsupported Minisign signature", 0, false},
        freshness_case{"crlf_signature_file", "/fresh/crlf.bin", std::nullopt, 0, listing::none, false, "", 1800000000,
                       true},
        freshness_case{"no_final_line_feed", "/fresh/no-final-lf.bin", std::nullopt, 0, listing::none, false, "",
                       1800000000, true},
        freshness_case{"content_fails_nothing_recorded", "/fresh/flipped.bin", std::nullopt, 0, listing::none, false,
                       invalid, 0, true},
        freshness_case{"custom_comment_without_fields", "/fresh/custom.bin", std::nullopt, 0, listing::none, false, "",
                       0, true},
        freshness_case{"custom_comment_after_a_record", "/fresh/custom.bin", 5u, 0, listing::none, false, replayed, 0,
                       false},
        freshness_case{"file_field_only", "/fresh/bare-file.bin", std::nullopt, 0, listing::none, false, "", 0, true},
        freshness_case{"escaped_file_name", "/fresh/with%20space.bin", std::nullopt, 0, listing::none, false, "",
                       signed_today, true},
        freshness_case{"listed_with_its_hash", "/fresh/new.bin", std::nullopt, 0, listing::own_hash, false, "",
                       1800000000, true},
        freshness_case{"listed_with_another_hash", "/fresh/new.bin", std::nullopt, 0, listing::other_hash, false,
                       not_listed_hash, 0, true},
        freshness_case{"listed_with_unreadable_hash", "/fresh/new.bin", std::nullopt, 0, listing::unreadable_hash,
                       false, not_listed_hash, 0, true},
        freshness_case{"local_copy_with_its_hash", "/fresh/new.bin", std::nullopt, 0, listing::own_hash, true, "",
                       1800000000, false},
        freshness_case{"local_copy_with_another_hash", "/fresh/new.bin", std::nullopt, 0, listing::other_hash, true,
                       not_listed_hash, 0, false}),
    [](const auto& info) { return std::string(info.param.name); });

// The update client of a build with the checks on: the descriptor of the
// channel set in the registry.
struct client_case {
    const char* name;
    const wchar_t* channel;
    const char* error;
    bool recorded;
};

class client_freshness : public ::testing::TestWithParam<client_case> {};

TEST_P(client_freshness, descriptor_verdict)
{
    const client_case& c = GetParam();
    clear_records();
    channel_setting setting;
    setting.set_text(c.channel);
    std::string error;
    try {
        update_client client(false);
    } catch (const std::exception& e) {
        error = exception_message(e);
    }
    EXPECT_EQ(error, c.error);
    expect_record(descriptor_path(wembra::wide_to_utf8(c.channel)), c.recorded ? signed_today : 0);
}

INSTANTIATE_TEST_SUITE_P(channels, client_freshness,
                         ::testing::Values(client_case{"published", L"stable", "", true},
                                           client_case{"another_channels_descriptor", L"swap", another_file, false},
                                           client_case{"altered_trusted_comment", L"altered", invalid, false},
                                           client_case{"signed_before_the_floor", L"ancient", below_floor, false},
                                           client_case{"custom_comments_without_fields", L"custom", "", false}),
                         [](const auto& info) { return std::string(info.param.name); });

// The package lines of the descriptor bind the package: the published one
// passes, another validly signed file under its name does not.
TEST(client_freshness_packages, package_bound_to_descriptor)
{
    clear_records();
    for (const char* channel : {"stable", "mixed"}) {
        channel_setting setting;
        setting.set_text(wembra::utf8_to_wide(channel));
        update_client client(false);
        ASSERT_EQ(client.descriptor_packages.size(), 3u) << channel;
        for (const char* name : {"Lumora.ARM64.msi", "Lumora.Win32.msi", "Lumora.x64.msi"}) {
            const descriptor_package* listed = find_descriptor_package(client.descriptor_packages, name);
            ASSERT_NE(listed, nullptr) << name;
            EXPECT_EQ(listed->digest, digest_of(served_file("/pkgs/stable/" + std::string(name)))) << name;
        }
        const std::string package_path = "/pkgs/" + std::string(channel) + "/Lumora.Win32.msi";
        std::optional<signature_freshness> freshness = freshness_for(package_path, client.descriptor_packages);
        ASSERT_TRUE(freshness.has_value());
        stream::memory_file output;
        EXPECT_EQ(download(package_path, output, *freshness), std::string(channel) == "mixed" ? not_listed_hash : "");
        expect_record(package_path, std::string(channel) == "mixed" ? 0 : signed_today);
    }
}

// Puts one saved version of the replay channel's descriptor in place.
void serve_replay_version(const char* version)
{
    const std::string path = descriptor_path("replay");
    for (const std::string suffix : {"", ".minisig"}) {
        std::string from = std::string(LUMORA_TEST_SERVER_DIR) + "/variants/" + version + path + suffix;
        std::string to = std::string(LUMORA_TEST_SERVER_DIR) + "/www" + path + suffix;
        for (std::string* name : {&from, &to})
            for (char& c : *name)
                if (c == '/')
                    c = '\\';
        ASSERT_TRUE(CopyFileW(wembra::utf8_to_wide(from).c_str(), wembra::utf8_to_wide(to).c_str(), FALSE))
            << from << ": " << GetLastError();
    }
}

TEST(client_freshness_replay, older_descriptor_after_a_newer_one)
{
    clear_records();
    channel_setting setting;
    setting.set_text(L"replay");
    serve_replay_version("1700000000");
    {
        update_client client(false);
        EXPECT_EQ(client.descriptor_text, "replay 1700000000");
    }
    expect_record(descriptor_path("replay"), 1700000000);
    {
        update_client again(false);  // the same file again is fine
    }
    serve_replay_version("1600000000");
    try {
        update_client client(false);
        ADD_FAILURE() << "the older descriptor was accepted: " << client.descriptor_text;
    } catch (const std::exception& e) {
        EXPECT_EQ(exception_message(e), replayed);
    }
    expect_record(descriptor_path("replay"), 1700000000);
    serve_replay_version("1700000000");
}

}  // namespace
