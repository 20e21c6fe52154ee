// What the start-up sender keeps of the stored reports: the bounds of a
// pass, the attempt record's bytes, and which files count as reports.
#include <gtest/gtest.h>
#include <zlib.h>

#include <cstdint>
#include <string>
#include <vector>

#include "crashreport/attempt_record.hpp"
#include "crashreport/report_check.hpp"
#include "crashreport/stored_policy.hpp"

namespace {
using namespace brindlex;
using namespace brindlex::stored;

constexpr std::uint64_t minute = std::uint64_t(60) * 10'000'000;
constexpr std::uint64_t day = 24 * 60 * minute;
// 2024-06-01 as a file time: any time far from 0 will do.
constexpr std::uint64_t now = 133616448000000000ull;

using indices = std::vector<std::size_t>;

struct plan_case {
    const char* name;
    std::vector<pair_state> pairs;
    indices drop;
    indices send;
};

std::vector<pair_state> minutes_apart(std::size_t count)
{
    std::vector<pair_state> pairs;
    for (std::size_t i = 0; i < count; ++i)
        pairs.push_back({now - (count - i) * minute, 0});
    return pairs;
}

indices range(std::size_t first, std::size_t end)
{
    indices out;
    for (std::size_t i = first; i < end; ++i)
        out.push_back(i);
    return out;
}

TEST(stored_policy, plans)
{
    std::vector<pair_state> twenty_one_one_old = minutes_apart(21);
    twenty_one_one_old[5].written = now - 31 * day;
    indices twenty_one_kept = range(0, 21);
    twenty_one_kept.erase(twenty_one_kept.begin() + 5);

    const plan_case cases[] = {
        {"nothing stored", {}, {}, {}},
        {"a fresh pair goes out", {{now - minute, 0}}, {}, {0}},
        {"thirty days old is kept", {{now - 30 * day, 0}}, {}, {0}},
        {"a tick over thirty days is dropped", {{now - 30 * day - 1, 0}}, {0}, {}},
        {"a time ahead of the clock is no age", {{now + 400 * day, 0}}, {}, {0}},
        {"four unanswered starts leave one more", {{now - minute, 4}}, {}, {0}},
        {"five unanswered starts are enough", {{now - minute, 5}, {now - day, 0}}, {0}, {1}},
        {"oldest first, equal times in the given order",
         {{now - minute, 0}, {now - day, 1}, {now - minute, 2}, {now - 2 * day, 0}},
         {},
         {3, 1, 0, 2}},
        {"twenty are kept", minutes_apart(20), {}, range(0, 20)},
        {"the oldest beyond twenty go", minutes_apart(22), {0, 1}, range(2, 22)},
        // The count bound counts what the other bounds leave.
        {"twenty after the age bound", twenty_one_one_old, {5}, twenty_one_kept},
    };
    for (const plan_case& c : cases) {
        SCOPED_TRACE(c.name);
        const pass_plan plan = plan_pass(c.pairs, now);
        EXPECT_EQ(plan.drop, c.drop);
        EXPECT_EQ(plan.send, c.send);
    }
}

TEST(attempt_record, bytes_as_documented)
{
    attempt_record record;
    record.offers = 3;
    record.bxr_asked = true;
    record.bxo_size = 0x0102030405060708ull;
    record.bxo_written = 0x1112131415161718ull;
    unsigned char bytes[attempt_record_size];
    encode(record, bytes);
    const unsigned char expected[attempt_record_size] = {
        'B',  'X',  'P',  '1',  3,    0,    0,    0,    1,    0,    0,    0,    0x08, 0x07,
        0x06, 0x05, 0x04, 0x03, 0x02, 0x01, 0x18, 0x17, 0x16, 0x15, 0x14, 0x13, 0x12, 0x11,
    };
    EXPECT_EQ(std::vector<unsigned char>(bytes, bytes + sizeof bytes),
              std::vector<unsigned char>(expected, expected + sizeof expected));

    const std::optional<attempt_record> read = decode(bytes, sizeof bytes);
    ASSERT_TRUE(read);
    EXPECT_EQ(read->offers, 3u);
    EXPECT_TRUE(read->bxr_asked);
    EXPECT_EQ(read->bxo_size, record.bxo_size);
    EXPECT_EQ(read->bxo_written, record.bxo_written);
}

TEST(attempt_record, what_is_no_record)
{
    attempt_record record;
    record.offers = 0xFFFFFFFFu;
    unsigned char bytes[attempt_record_size + 4];
    encode(record, reinterpret_cast<unsigned char(&)[attempt_record_size]>(bytes));
    // Bytes after the record (an older, longer file) do not matter.
    ASSERT_TRUE(decode(bytes, sizeof bytes));
    EXPECT_EQ(decode(bytes, sizeof bytes)->offers, 0xFFFFFFFFu);
    EXPECT_FALSE(decode(bytes, attempt_record_size - 1)) << "cut short";
    EXPECT_FALSE(decode(bytes, 0));
    bytes[3] = '2';
    EXPECT_FALSE(decode(bytes, sizeof bytes)) << "another magic";
}

std::string deflated(const std::string& content)
{
    uLongf size = compressBound(uLong(content.size()));
    std::string out(size, '\0');
    EXPECT_EQ(compress2(reinterpret_cast<Bytef*>(out.data()), &size, reinterpret_cast<const Bytef*>(content.data()),
                        uLong(content.size()), 9),
              Z_OK);
    out.resize(size);
    return out;
}

bool complete(const std::string& data, format::report_kind kind)
{
    return is_complete_report(reinterpret_cast<const unsigned char*>(data.data()), data.size(), kind);
}

struct check_case {
    const char* name;
    std::string data;
    format::report_kind kind;
    bool report;
};

TEST(report_check, complete_reports_only)
{
    const std::string i386 = std::string("\x4C\x01", 2);
    const std::string amd64 = std::string("\x64\x86", 2);
    // Enough content for more than one inflate block of the check.
    const std::string frames(20000, 'F');
    const std::string bxo = deflated("BXO1" + i386 + frames);
    const check_case cases[] = {
        {".bxo report", bxo, format::bxo, true},
        {".bxo report is no .bxr report", bxo, format::bxr, false},
        {".bxr report", deflated("BXR1" + i386 + frames), format::bxr, true},
        {"64-bit .bxr report", deflated("BXR1" + amd64 + frames), format::bxr, true},
        {"header only", deflated("BXO1" + i386), format::bxo, true},
        {"unknown machine", deflated("BXO1" + std::string("\x00\x02", 2) + frames), format::bxo, false},
        {"header cut short", deflated("BXO1\x4C"), format::bxo, false},
        {"stream cut short", bxo.substr(0, bxo.size() - 1), format::bxo, false},
        {"stream cut in half", bxo.substr(0, bxo.size() / 2), format::bxo, false},
        {"bytes after the stream", bxo + "x", format::bxo, false},
        {"two streams", bxo + bxo, format::bxo, false},
        {"empty file", "", format::bxo, false},
        {"not zlib", "BXO1" + i386 + frames, format::bxo, false},
    };
    for (const check_case& c : cases) {
        SCOPED_TRACE(c.name);
        EXPECT_EQ(complete(c.data, c.kind), c.report);
    }
}

TEST(report_check, content_beyond_the_bound_is_no_report)
{
    // 260 MiB of zeros deflate to about a quarter of a mebibyte.
    z_stream z{};
    ASSERT_EQ(deflateInit(&z, 9), Z_OK);
    std::string out;
    const std::string header = "BXO1\x4C\x01";
    const std::string zeros(1 << 20, '\0');
    unsigned char block[65536];
    auto pump = [&](const std::string& in, int flush) {
        z.next_in = reinterpret_cast<Bytef*>(const_cast<char*>(in.data()));
        z.avail_in = uInt(in.size());
        do {
            z.next_out = block;
            z.avail_out = sizeof block;
            deflate(&z, flush);
            out.append(reinterpret_cast<char*>(block), sizeof block - z.avail_out);
        } while (z.avail_out == 0);
    };
    pump(header, Z_NO_FLUSH);
    for (int i = 0; i < 260; ++i)
        pump(zeros, Z_NO_FLUSH);
    pump("", Z_FINISH);
    deflateEnd(&z);
    EXPECT_FALSE(complete(out, format::bxo));
}

}  // namespace
