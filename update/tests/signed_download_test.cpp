// The signed download against nginx on 127.0.0.1 serving signatures made by
// the minisign program (update_server.sh).
#include <windows.h>

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <algorithm>
#include <string>
#include <vector>

#include "base/exception_message.hpp"
#include "signature/trusted_keys.hpp"
#include "stream/file.hpp"
#include "stream/memory_file.hpp"
#include "update/descriptor.hpp"
#include "update/signed_download.hpp"
#include "update/tests/test_server.hpp"

namespace {

using namespace fenrix;
using namespace fenrix::update_testing;
using ::testing::ElementsAre;
using ::testing::IsEmpty;

// Records what the download reports; can be told to ask for a cancel once
// the content section (above 100) has been reached.
class recording_progress : public progress<unsigned int> {
public:
    void set_range(unsigned int start, unsigned int end) override { ranges.push_back({start, end}); }
    void set(unsigned int value) override
    {
        values.push_back(value);
        if (cancel_in_content && value > 100)
            cancel_requested = true;
    }
    bool cancel() override { return cancel_requested; }

    std::vector<std::pair<unsigned int, unsigned int>> ranges;
    std::vector<unsigned int> values;
    bool cancel_in_content = false;
    bool cancel_requested = false;
};

// A memory file that counts the reads of the content check.
class counting_file : public stream::memory_file {
public:
    std::size_t read(void* data, std::size_t length) override
    {
        ++reads;
        return memory_file::read(data, length);
    }
    std::size_t reads = 0;
};

class signed_download : public ::testing::Test {
protected:
    hopline::session session{user_agent};
    hopline::connection connection{session, 1, "127.0.0.1", port};

    // The error text the user would read, empty on success.
    template <class T = unsigned int>
    std::string download(const std::string& path, stream::basic_file& output, progress<T>* progress = nullptr,
                         std::uint64_t limit = UINT64_MAX)
    {
        const hopline::url url(1, port, "127.0.0.1", "", "", path.c_str());
        static const char* const accept[] = {"application/octet-stream", nullptr};
        try {
            download_signed<T>(connection, url, hopline::header_map(), accept, nullptr, nullptr, minisign::trusted_keys,
                               minisign::trusted_key_count, output, progress, limit);
            return "";
        } catch (const std::exception& e) {
            return exception_message(e);
        }
    }

    static std::string contents(stream::memory_file& file)
    {
        return std::string(reinterpret_cast<const char*>(file.bytes()), std::size_t(file.size()));
    }
};

struct download_case {
    const char* name;
    const char* path;
    const char* error;  // empty: the download succeeds with the served file
    bool content_requested;
};

class download_cases : public signed_download, public ::testing::WithParamInterface<download_case> {};

TEST_P(download_cases, outcome_and_requests)
{
    const download_case& c = GetParam();
    const std::uint64_t position = log_position();
    stream::memory_file output;
    EXPECT_EQ(download(c.path, output), c.error);
    if (!*c.error) {
        EXPECT_EQ(contents(output), served_file(c.path));
    }

    const std::vector<std::string> requests = requests_since(position);
    EXPECT_EQ(matching(requests, std::string(c.path) + ".minisig").size(), 1u);
    const std::vector<std::string> content = matching(requests, std::string(c.path) + " ");
    EXPECT_EQ(content.size(), c.content_requested ? 1u : 0u);
}

INSTANTIATE_TEST_SUITE_P(
    server, download_cases,
    ::testing::Values(
        download_case{"prehashed", "/dl/good.bin", "", true}, download_case{"crlf_signature", "/dl/crlf.bin", "", true},
        download_case{"extra_characters_in_base64_line", "/dl/noisy.bin", "", true},
        download_case{"altered_trusted_comment", "/dl/altered-trusted.bin", "", true},
        download_case{"empty_content", "/dl/empty.bin", "", false},
        download_case{"legacy", "/dl/legacy.bin", "Unsupported Minisign signature", false},
        download_case{"other_key", "/dl/other.bin", "Untrusted Minisign key", false},
        download_case{"only_a_comment", "/dl/comment-only.bin", "Minisign signature is too short", false},
        download_case{"blank_before_comment", "/dl/blank-comment.bin", "Minisign signature is too short", false},
        download_case{"flipped_byte", "/dl/flipped.bin", "Invalid Minisign signature", true},
        download_case{"truncated", "/dl/truncated.bin", "Invalid Minisign signature", true},
        download_case{"extra_byte", "/dl/extra.bin", "Invalid Minisign signature", true},
        download_case{"signature_404", "/dl/nosig.bin", "Failed to load Minisign signature: 404", false},
        download_case{"content_404", "/dl/nocontent.bin", "Failed to load content: 404", true},
        download_case{"oversized_signature", "/dl/huge-signature.bin",
                      "Failed to load Minisign signature: Minisign signature file is larger than 8192 bytes", false}),
    [](const auto& info) { return std::string(info.param.name); });

TEST_F(signed_download, oversized_descriptor_is_refused)
{
    stream::memory_file output;
    EXPECT_EQ(
        download("/dl/huge-descriptor.txt", output, static_cast<progress<unsigned int>*>(nullptr), max_descriptor_size),
        "Failed to load content: Content is larger than 1048576 bytes");
    // Nothing is set aside on the server's announced length any more: the
    // body is held until it passes the bound, in the memory file's growth
    // steps (a quarter above what is held, in 64 KiB units).
    EXPECT_LE(output.reserved_size(), max_descriptor_size + max_descriptor_size / 4 + 65536);
    EXPECT_EQ(output.size(), 0u);  // and nothing of it is kept
}

// The 64-bit instantiation, as the descriptor uses it, behaves the same.
TEST_F(signed_download, sixty_four_bit_progress_unit)
{
    stream::memory_file output;
    EXPECT_EQ(download<std::uint64_t>("/dl/good.bin", output), "");
    EXPECT_EQ(contents(output), served_file("/dl/good.bin"));
}

// Package files on disk, left by an earlier run.
class leftover_file : public signed_download {
protected:
    std::wstring path;
    stream::file file;

    void SetUp() override
    {
        wchar_t folder[MAX_PATH];
        GetTempPathW(MAX_PATH, folder);
        path = std::wstring(folder) + L"lumora-signed-download-" + std::to_wstring(GetCurrentProcessId()) + L".bin";
        DeleteFileW(path.c_str());
        file.open(path.c_str(), 0x8193);
        ASSERT_TRUE(file.is_open());
    }
    void TearDown() override
    {
        file.close();
        DeleteFileW(path.c_str());
    }
    void leave(const std::string& bytes)
    {
        file.seek(0);
        file.write(bytes.data(), bytes.size());
        file.truncate();
        // An old time, so that any write would show.
        file.set_mtime(stream::time_point{15000000000000000LL});
    }
    std::string on_disk()
    {
        std::string out(std::size_t(file.size()), '\0');
        file.seek(0);
        file.read_array(out.data(), 1, out.size());
        return out;
    }
};

TEST_F(leftover_file, complete_valid_file_is_only_hashed)
{
    const std::string good = served_file("/dl/good.bin");
    leave(good);
    const stream::time_point before = file.mtime();
    const std::uint64_t position = log_position();

    EXPECT_EQ(download("/dl/good.bin", file), "");
    EXPECT_THAT(requests_since(position), ElementsAre("GET /dl/good.bin.minisig 200"));
    EXPECT_EQ(file.mtime(), before);
    EXPECT_EQ(on_disk(), good);
}

TEST_F(leftover_file, half_written_file_is_downloaded_from_the_start)
{
    const std::string good = served_file("/dl/good.bin");
    leave(good.substr(0, good.size() / 2));
    const std::uint64_t position = log_position();

    EXPECT_EQ(download("/dl/good.bin", file), "");
    EXPECT_THAT(requests_since(position), ElementsAre("GET /dl/good.bin.minisig 200", "GET /dl/good.bin 200"));
    EXPECT_EQ(on_disk(), good);
}

TEST_F(leftover_file, longer_leftover_is_cut_to_the_new_length)
{
    const std::string good = served_file("/dl/good.bin");
    leave(good + std::string(5000, 'z'));
    EXPECT_EQ(download("/dl/good.bin", file), "");
    EXPECT_EQ(file.size(), good.size());
    EXPECT_EQ(on_disk(), good);
}

// Without an announced length nothing sizes the file in advance; the end of
// what arrived must still become the end of the file.
TEST_F(leftover_file, longer_leftover_is_cut_without_announced_length)
{
    const std::string good = served_file("/nolength/good.bin");
    leave(good + std::string(5000, 'z'));
    EXPECT_EQ(download("/nolength/good.bin", file), "");
    EXPECT_EQ(file.size(), good.size());
    EXPECT_EQ(on_disk(), good);
}

struct failure_case {
    const char* name;
    const char* path;
    const char* error;
    bool leftover_kept;  // else the file is left empty
};

class failed_download : public leftover_file, public ::testing::WithParamInterface<failure_case> {};

// A download that went wrong leaves nothing unverified behind; a failure
// before it (the signature) leaves the leftover for the next run to check.
TEST_P(failed_download, leaves_the_file_empty_once_the_download_began)
{
    const failure_case& c = GetParam();
    const std::string leftover(300000, 'x');
    leave(leftover);
    EXPECT_EQ(download(c.path, file), c.error);
    EXPECT_EQ(file.size(), c.leftover_kept ? leftover.size() : 0u);
    if (c.leftover_kept) {
        EXPECT_EQ(on_disk(), leftover);
    }
}

INSTANTIATE_TEST_SUITE_P(
    server, failed_download,
    ::testing::Values(failure_case{"content_404", "/dl/nocontent.bin", "Failed to load content: 404", false},
                      failure_case{"content_that_does_not_verify", "/dl/flipped.bin", "Invalid Minisign signature",
                                   false},
                      failure_case{"signature_404", "/dl/nosig.bin", "Failed to load Minisign signature: 404", true}),
    [](const auto& info) { return std::string(info.param.name); });

TEST_F(signed_download, cancel_during_the_transfer_leaves_the_stream_empty)
{
    recording_progress progress;
    progress.cancel_in_content = true;
    stream::memory_file output;
    EXPECT_EQ(download("/dl/big.bin", output, &progress), "operation cancelled");
    EXPECT_EQ(output.size(), 0u);
}

// A stream that cannot be cut must not be handed on: stale bytes would stay
// behind the verified ones.
TEST_F(signed_download, a_failed_truncation_is_an_error)
{
    class uncuttable : public stream::memory_file {
    public:
        void truncate() override { state = stream::fail; }
    } output;
    const std::string stale(300000, 'x');
    output.write(stale.data(), stale.size());
    EXPECT_THAT(download("/dl/good.bin", output), ::testing::StartsWith("Failed to load content: truncation failed"));
}

TEST_F(leftover_file, empty_file_of_empty_signature_is_accepted_without_download)
{
    leave("");
    const stream::time_point before = file.mtime();
    const std::uint64_t position = log_position();
    EXPECT_EQ(download("/dl/empty.bin", file), "");
    EXPECT_THAT(requests_since(position), ElementsAre("GET /dl/empty.bin.minisig 200"));
    EXPECT_EQ(file.mtime(), before);
}

TEST_F(signed_download, progress_sections_with_announced_lengths)
{
    recording_progress progress;
    stream::memory_file output;
    ASSERT_EQ(download("/dl/big.bin", output, &progress), "");

    ASSERT_FALSE(progress.ranges.empty());
    EXPECT_EQ(progress.ranges.front(), std::make_pair(0u, 1000u));
    ASSERT_FALSE(progress.values.empty());
    // The signature arrives within 0 to 100, then the content fills 100 to 1000.
    std::size_t i = 0;
    while (i < progress.values.size() && progress.values[i] <= 100)
        ++i;
    EXPECT_GT(i, 0u) << "no report during the signature";
    for (std::size_t j = i; j < progress.values.size(); ++j) {
        EXPECT_GT(progress.values[j], 100u);
        EXPECT_LE(progress.values[j], 1000u);
        if (j > i) {
            EXPECT_GE(progress.values[j], progress.values[j - 1]);
        }
    }
    EXPECT_GT(progress.values.size() - i, 100u) << "one report per 8192-byte block of 1 MiB";
    EXPECT_EQ(progress.values.back(), 1000u);
}

TEST_F(signed_download, no_progress_while_no_length_is_announced)
{
    recording_progress progress;
    stream::memory_file output;
    ASSERT_EQ(download("/nolength/good.bin", output, &progress), "");
    EXPECT_EQ(contents(output), served_file("/dl/good.bin"));
    EXPECT_THAT(progress.ranges, ::testing::Contains(std::make_pair(0u, 1000u)));
    EXPECT_THAT(progress.values, IsEmpty());
}

TEST_F(signed_download, existing_content_check_reports_100_to_1000)
{
    recording_progress progress;
    stream::memory_file output;
    const std::string big = served_file("/dl/big.bin");
    output.write(big.data(), big.size());
    const std::uint64_t position = log_position();
    ASSERT_EQ(download("/dl/big.bin", output, &progress), "");
    EXPECT_THAT(matching(requests_since(position), "/dl/big.bin "), IsEmpty());
    // After the signature's 0 to 100, one report per 8192-byte block read.
    const auto in_content =
        std::count_if(progress.values.begin(), progress.values.end(), [](unsigned int v) { return v > 100; });
    EXPECT_GE(in_content, 1048576 / 8192);
    ASSERT_FALSE(progress.values.empty());
    EXPECT_EQ(progress.values.back(), 1000u);
}

TEST_F(signed_download, cancel_while_hashing_ends_within_one_block)
{
    recording_progress progress;
    progress.cancel_in_content = true;
    counting_file output;
    const std::string big = served_file("/dl/big.bin");
    output.write(big.data(), big.size());
    const std::uint64_t position = log_position();

    EXPECT_EQ(download("/dl/big.bin", output, &progress), "operation cancelled");
    // The cancel was asked after the first block; the second block's poll ends it.
    EXPECT_EQ(output.reads, 2u);
    EXPECT_THAT(matching(requests_since(position), "/dl/big.bin "), IsEmpty());
}

TEST_F(signed_download, cancellation_is_not_wrapped)
{
    class cancel_at_once : public progress<unsigned int> {
        bool cancel() override { return true; }
    } progress;
    stream::memory_file output;
    const hopline::url url(1, port, "127.0.0.1", "", "", "/dl/good.bin");
    static const char* const accept[] = {"application/octet-stream", nullptr};
    EXPECT_THROW(download_signed<unsigned int>(connection, url, hopline::header_map(), accept, nullptr, nullptr,
                                               minisign::trusted_keys, minisign::trusted_key_count, output, &progress),
                 user_cancelled);
}

}  // namespace
