#include "tools/report-reader/report.hpp"

#include "tools/report-reader/json_output.hpp"

#include <gtest/gtest.h>

#include <zlib.h>

#include <algorithm>
#include <cstring>
#include <string>

namespace {
using namespace report_reader;

// Builds report content field by field, as the program writes it; addresses
// are `address_bytes` wide (4 in an i386 report, 8 in an x64 one).
class builder {
public:
    explicit builder(std::uint32_t address_bytes = 4) : address_bytes(address_bytes) {}
    builder& tag(const char* t)
    {
        data.append(t, 4);
        return *this;
    }
    builder& u16(std::uint16_t v)
    {
        data += char(v & 0xFF);
        data += char(v >> 8);
        return *this;
    }
    builder& u32(std::uint32_t v)
    {
        for (int i = 0; i < 4; ++i)
            data += char(v >> (8 * i) & 0xFF);
        return *this;
    }
    builder& u64(std::uint64_t v) { return u32(std::uint32_t(v)).u32(std::uint32_t(v >> 32)); }
    builder& address(std::uint64_t v) { return address_bytes == 8 ? u64(v) : u32(std::uint32_t(v)); }
    builder& text(const std::u16string& t)
    {
        for (char16_t c : t)
            u16(c);
        return *this;
    }
    builder& raw(const std::string& bytes)
    {
        data += bytes;
        return *this;
    }
    builder& exception(std::uint32_t code, std::uint64_t at, std::uint32_t parameters = 2)
    {
        u32(code).u32(0).address(at).u32(parameters);
        for (std::uint32_t i = 0; i < parameters; ++i)
            address(i);
        return *this;
    }
    builder& module(const std::u16string& name, std::uint64_t base, bool detailed)
    {
        tag("MOD1").u32(std::uint32_t(name.size())).text(name).u32(0x5F000000);
        if (detailed)
            u32(0x1234);
        return address(base);
    }
    builder& frame(std::uint32_t offset) { return tag("FUN1").u32(offset); }
    std::uint32_t address_bytes;
    std::string data;
};

builder bxo_header()
{
    builder b;
    b.tag("BXO1").u16(0x14C);
    return b;
}

builder bxr_header()
{
    builder b;
    b.tag("BXR1").u16(0x14C).u32(1).exception(0xC0000094, 0x401000, 0);
    // A system context: every group present.
    b.u32(0x1003F);
    for (int i = 0; i < 6 + 6 + 4 + 8; ++i)
        b.u32(i);
    b.raw(std::string(80, 'f')).raw(std::string(512, 'x'));
    for (int i = 0; i < 6; ++i)
        b.u32(0);
    return b;
}

builder x64_bxo_header()
{
    builder b(8);
    b.tag("BXO1").u16(0x8664);
    return b;
}

// An x64 system context: every group present, each register the number of
// its place above 2^32, so that a 32-bit read shows.
builder x64_bxr_header()
{
    builder b(8);
    b.tag("BXR1").u16(0x8664).u32(1).exception(0xC0000005, 0x140001234, 2);
    b.u32(0x10001F);
    for (int i = 0; i < 15 + 5 + 4 + 1; ++i)
        b.u64(0x100000000ull + std::uint64_t(i));
    b.raw(std::string(512, 'x'));
    for (int i = 0; i < 6; ++i)
        b.u64(0x100000000ull + std::uint64_t(25 + i));
    return b;
}

std::string compress_text(const std::string& data)
{
    uLongf size = compressBound(uLong(data.size()));
    std::string out(size, '\0');
    EXPECT_EQ(compress2(reinterpret_cast<Bytef*>(out.data()), &size, reinterpret_cast<const Bytef*>(data.data()),
                        uLong(data.size()), 9),
              Z_OK);
    out.resize(size);
    return out;
}

TEST(ReportReader, ReadsAnObservationReport)
{
    const std::string content = bxo_header()
                                    .exception(0xC0000005, 0x4015C0)
                                    .tag("DOOP")
                                    .u32(6)
                                    .text(std::u16string(u"ab\0cd\0", 6))
                                    .module(u"host.exe", 0x400000, false)
                                    .frame(0x15C0)
                                    .frame(0x1700)
                                    .module(u"KERNEL32.dll", 0x7B000000, false)
                                    .frame(0x20)
                                    .data;
    const report r = parse_report(inflate_report(compress_text(content)));
    EXPECT_FALSE(r.detailed);
    ASSERT_EQ(r.exceptions.size(), 1u);
    EXPECT_EQ(r.exceptions[0].code, 0xC0000005u);
    EXPECT_EQ(r.exceptions[0].parameters.size(), 2u);
    EXPECT_EQ(r.trace, (std::vector<std::u16string>{u"ab", u"cd"}));
    ASSERT_EQ(r.modules.size(), 2u);
    EXPECT_FALSE(r.modules[0].checksum);
    ASSERT_EQ(r.frames.size(), 3u);
    EXPECT_EQ(r.frames[1].module, 0u);
    EXPECT_EQ(r.frames[2].module, 1u);
    const std::string text = describe(r, {"fault_here() at host.cpp:10"});
    EXPECT_NE(text.find("EXCEPTION_ACCESS_VIOLATION"), std::string::npos);
    EXPECT_NE(text.find("#0 host.exe+0x15C0 fault_here() at host.cpp:10"), std::string::npos);
    EXPECT_NE(text.find("KERNEL32.dll: time stamp 0x5F000000, base 0x7B000000"), std::string::npos);
}

TEST(ReportReader, ReadsADetailedReport)
{
    const std::string content = bxr_header()
                                    .module(u"host.exe", 0x400000, true)
                                    .frame(0x10)
                                    .u32(8)
                                    .u32(0x0075FD00)
                                    .raw("12345678")
                                    .frame(0x20)
                                    .u32(0)
                                    .data;
    const report r = parse_report(inflate_report(compress_text(content)));
    EXPECT_TRUE(r.detailed);
    ASSERT_TRUE(r.context);
    EXPECT_EQ(r.context->registers.size(), 30u);
    EXPECT_EQ(r.context->registers[10], (std::pair<std::string, std::uint64_t>{"eip", 10}));
    EXPECT_EQ(r.modules[0].checksum, 0x1234u);
    ASSERT_TRUE(r.frames[0].snapshot);
    EXPECT_EQ(r.frames[0].snapshot->bytes.size(), 8u);
    EXPECT_FALSE(r.frames[1].snapshot);
    EXPECT_NE(describe(r).find("EXCEPTION_INT_DIVIDE_BY_ZERO"), std::string::npos);
}

TEST(ReportReader, ReadsX64Reports)
{
    const report o = parse_report(x64_bxo_header()
                                      .exception(0xC0000005, 0x7FF6A1B2C3D4, 3)
                                      .module(u"host.exe", 0x7FF6A1B20000, false)
                                      .frame(0xC3D4)
                                      .module(u"KERNEL32.dll", 0x7FFB00000000, false)
                                      .frame(0x20)
                                      .data);
    EXPECT_EQ(o.machine, 0x8664);
    EXPECT_EQ(o.exceptions[0].address, 0x7FF6A1B2C3D4u);
    EXPECT_EQ(o.exceptions[0].parameters, (std::vector<std::uint64_t>{0, 1, 2}));
    EXPECT_EQ(o.modules[0].base, 0x7FF6A1B20000u);
    EXPECT_EQ(o.modules[1].base, 0x7FFB00000000u);
    const std::string text = describe(o, {"fault_here() at host.cpp:10"});
    EXPECT_NE(text.find("report: BXO1, machine x64\n"), std::string::npos) << text;
    EXPECT_NE(text.find("address 0x00007FF6A1B2C3D4"), std::string::npos) << text;
    EXPECT_NE(text.find("host.exe: time stamp 0x5F000000, base 0x00007FF6A1B20000"), std::string::npos) << text;
    EXPECT_NE(text.find("#0 host.exe+0xC3D4 fault_here() at host.cpp:10"), std::string::npos) << text;

    const report d = parse_report(inflate_report(compress_text(x64_bxr_header()
                                                                   .module(u"host.exe", 0x140000000, true)
                                                                   .frame(0x1234)
                                                                   .u32(16)
                                                                   .u64(0x5FFE00)
                                                                   .raw(std::string(16, 's'))
                                                                   .frame(0x1300)
                                                                   .u32(0)
                                                                   .data)));
    ASSERT_TRUE(d.context);
    ASSERT_EQ(d.context->registers.size(), 31u);
    EXPECT_EQ(d.context->registers[0], (std::pair<std::string, std::uint64_t>{"rax", 0x100000000}));
    EXPECT_EQ(d.context->registers[4], (std::pair<std::string, std::uint64_t>{"rbp", 0x100000004}));
    EXPECT_EQ(d.context->registers[15 + 3], (std::pair<std::string, std::uint64_t>{"rip", 0x100000012}));
    EXPECT_EQ(d.context->registers[15 + 5 + 4], (std::pair<std::string, std::uint64_t>{"mxcsr", 0x100000018}));
    EXPECT_EQ(d.context->registers[30], (std::pair<std::string, std::uint64_t>{"dr7", 0x10000001E}));
    ASSERT_EQ(d.context->areas.size(), 1u);
    EXPECT_EQ(d.context->areas[0].second.size(), 512u);
    EXPECT_EQ(d.modules[0].checksum, 0x1234u);
    EXPECT_EQ(d.modules[0].base, 0x140000000u);
    ASSERT_TRUE(d.frames[0].snapshot);
    EXPECT_EQ(d.frames[0].snapshot->address, 0x5FFE00u);
    EXPECT_EQ(d.frames[0].snapshot->bytes.size(), 16u);
    EXPECT_FALSE(d.frames[1].snapshot);
    const std::string detailed = describe(d);
    EXPECT_NE(detailed.find("  rip = 0x0000000100000012\n"), std::string::npos) << detailed;
    EXPECT_NE(detailed.find("  xmm save area: 512 bytes\n"), std::string::npos) << detailed;
    EXPECT_NE(detailed.find("stack snapshot: 16 bytes at 0x00000000005FFE00"), std::string::npos) << detailed;
    const std::string json = to_json(d);
    EXPECT_NE(json.find("\"machine\": \"x64\""), std::string::npos) << json;
    EXPECT_NE(json.find("[\"rip\", 4294967314]"), std::string::npos) << json;
    EXPECT_NE(json.find("\"address\": 5368713780"), std::string::npos) << json;
}

// The x64 groups by their flags, without the architecture bit: each alone
// gives its own registers, and the reader reads no more than they hold.
TEST(ReportReader, X64ContextGroupsFollowTheFlags)
{
    const struct {
        std::uint32_t flag;
        std::size_t registers;
        const char* first;
        std::size_t area;
    } groups[] = {
        {0x2, 15, "rax", 0}, {0x1, 5, "ss", 0}, {0x4, 4, "ds", 0}, {0x8, 1, "mxcsr", 512}, {0x10, 6, "dr0", 0}};
    for (const auto& g : groups) {
        builder b(8);
        b.tag("BXR1").u16(0x8664).u32(1).exception(1, 2, 0).u32(g.flag);
        for (std::size_t i = 0; i < g.registers; ++i)
            b.u64(i + 1);
        b.raw(std::string(g.area, 'a'));
        const report r = parse_report(b.data);
        ASSERT_EQ(r.context->registers.size(), g.registers) << g.flag;
        EXPECT_EQ(r.context->registers[0].first, g.first);
        EXPECT_EQ(r.context->areas.size(), g.area ? 1u : 0u);
        b.data.pop_back();
        EXPECT_THROW(parse_report(b.data), report_error) << "group " << g.flag << " cut short";
    }
}

TEST(ReportReader, ContextGroupsFollowTheFlags)
{
    builder b;
    b.tag("BXR1").u16(0x14C).u32(1).exception(1, 2, 0).u32(0x2).u32(1).u32(2).u32(3).u32(4).u32(5).u32(6);
    const report r = parse_report(b.data);
    EXPECT_EQ(r.context->registers.size(), 6u) << "only the integer group is flagged";
}

struct malformed_case {
    const char* name;
    std::string content;
};

TEST(ReportReader, RejectsMalformedContent)
{
    const malformed_case cases[] = {
        {"empty", ""},
        {"wrong magic", builder().tag("BXO2").u16(0x14C).exception(1, 2).data},
        {"other machine", builder().tag("BXO1").u16(0xAA64).exception(1, 2).data},
        {"x64 record read as i386", builder().tag("BXO1").u16(0x8664).exception(1, 2, 0).data},
        {"x64 module base cut to 32 bits",
         x64_bxo_header().exception(1, 2).module(u"a", 1, false).data.substr(0, 60) + std::string("FUN1\x01\0\0\0", 8)},
        {"x64 count beyond data", builder(8).tag("BXR1").u16(0x8664).u32(3).exception(1, 2, 0).u32(0).data},
        {"x64 truncated context", builder(8).tag("BXR1").u16(0x8664).u32(1).exception(1, 2, 0).u32(0x10001F).data},
        {"x64 snapshot without address", x64_bxr_header().module(u"a", 1, true).frame(1).u32(4).u32(0).data},
        {"truncated exception", bxo_header().u32(0xC0000005).u32(0).data},
        {"16 parameters", bxo_header().exception(1, 2, 16).data},
        {"bxr without records", builder().tag("BXR1").u16(0x14C).u32(0).data},
        {"bxr count beyond data", builder().tag("BXR1").u16(0x14C).u32(1000).exception(1, 2, 0).data},
        {"truncated context", builder().tag("BXR1").u16(0x14C).u32(1).exception(1, 2, 0).u32(0x1003F).data},
        {"frame before module", bxo_header().exception(1, 2).frame(5).data},
        {"module repeated",
         bxo_header().exception(1, 2).module(u"a", 1, false).frame(1).module(u"a", 1, false).frame(2).data},
        {"two modules in a row", bxo_header().exception(1, 2).module(u"a", 1, false).module(u"b", 2, false).data},
        {"module without frame at the end", bxo_header().exception(1, 2).module(u"a", 1, false).data},
        {"unknown tag", bxo_header().exception(1, 2).tag("XYZ1").data},
        {"stray bytes", bxo_header().exception(1, 2).raw("MO").data},
        {"trace without zero", bxo_header().exception(1, 2).tag("DOOP").u32(2).text(u"ab").data},
        {"empty trace", bxo_header().exception(1, 2).tag("DOOP").u32(0).data},
        {"trace beyond data", bxo_header().exception(1, 2).tag("DOOP").u32(0x40000000).data},
        {"module name beyond data", bxo_header().exception(1, 2).tag("MOD1").u32(0xFFFFFFFF).data},
        {"snapshot beyond data",
         bxr_header().module(u"a", 1, true).frame(1).u32(0x7FFFFFFF).u32(0x1000).raw("xx").data},
        {"snapshot without address", bxr_header().module(u"a", 1, true).frame(1).u32(4).data},
        {"bxr frame without snapshot size", bxr_header().module(u"a", 1, true).frame(1).data},
    };
    for (const auto& c : cases) {
        EXPECT_THROW(parse_report(c.content), report_error) << c.name;
        EXPECT_THROW(parse_report(inflate_report(compress_text(c.content))), report_error) << c.name;
    }
}

TEST(ReportReader, RejectsWhatIsNotOneZlibStream)
{
    const std::string good = compress_text(bxo_header().exception(1, 2).data);
    EXPECT_NO_THROW(inflate_report(good));
    EXPECT_THROW(inflate_report(good + "x"), report_error) << "bytes after the stream";
    EXPECT_THROW(inflate_report(good.substr(0, good.size() - 3)), report_error) << "truncated";
    EXPECT_THROW(inflate_report("not zlib at all"), report_error);
    EXPECT_THROW(inflate_report(""), report_error);
    std::string corrupt = good;
    corrupt[corrupt.size() - 1] ^= 0x55;
    EXPECT_THROW(inflate_report(corrupt), report_error) << "wrong checksum";
    EXPECT_THROW(inflate_report(compress_text(std::string(100000, 'a')), 1000), report_error) << "over the limit";
}

// `head` followed by `zeros` zero bytes, compressed a block at a time: a
// body of a few hundred kilobytes that inflates to hundreds of megabytes.
std::string compress_with_zeros(const std::string& head, std::size_t zeros)
{
    z_stream z{};
    EXPECT_EQ(deflateInit(&z, 9), Z_OK);
    std::string out;
    const std::string block(1 << 20, '\0');
    char buffer[65536];
    const auto feed = [&](const std::string& data, int flush) {
        z.next_in = reinterpret_cast<Bytef*>(const_cast<char*>(data.data()));
        z.avail_in = uInt(data.size());
        do {
            z.next_out = reinterpret_cast<Bytef*>(buffer);
            z.avail_out = sizeof buffer;
            deflate(&z, flush);
            out.append(buffer, sizeof buffer - z.avail_out);
        } while (z.avail_out == 0);
    };
    feed(head, Z_NO_FLUSH);
    for (std::size_t done = 0; done < zeros; done += block.size())
        feed(block.substr(0, std::min(block.size(), zeros - done)), Z_NO_FLUSH);
    feed({}, Z_FINISH);
    deflateEnd(&z);
    return out;
}

TEST(ReportReader, InflatesTheLargestRealReportButNotABomb)
{
    // A stack overflow in a 2 MiB stack: a frame every 8 bytes, each with
    // its 8 bytes of snapshot.
    constexpr std::uint32_t frames = (2u << 20) / 8;
    builder overflow = bxr_header();
    overflow.module(u"host.exe", 0x400000, true);
    for (std::uint32_t i = 0; i < frames; ++i)
        overflow.frame(0x1000).u32(8).u32(0x00200000 - 8 * i).raw(std::string(8, 's'));
    ASSERT_LT(overflow.data.size(), max_inflated_size);
    EXPECT_EQ(parse_report(inflate_report(compress_text(overflow.data))).frames.size(), frames);

    // A trace section that claims 100 million code units, all zero.
    builder head = bxo_header();
    head.exception(0xC0000005, 0x401000).tag("DOOP").u32(100u << 20);
    const std::string bomb = compress_with_zeros(head.data, 200u << 20);
    ASSERT_LT(bomb.size(), 1u << 20);
    try {
        inflate_report(bomb);
        ADD_FAILURE() << "a body that inflates to 200 MiB was read";
    } catch (const report_error& e) {
        EXPECT_STREQ(e.what(), "the report inflates to more than 16777216 bytes, more than any crash report holds");
    }
}

TEST(ReportReader, NamesExceptionCodes)
{
    EXPECT_STREQ(exception_code_name(0xC00000FD), "EXCEPTION_STACK_OVERFLOW");
    EXPECT_STREQ(exception_code_name(0x20474343), "C++ exception (GCC)");
    EXPECT_STREQ(exception_code_name(0x12345678), "");
}

TEST(ReportReader, ConvertsUtf16)
{
    EXPECT_EQ(to_utf8(u"\u010Dopek \U0001F600"), "\xC4\x8Dopek \xF0\x9F\x98\x80");
    EXPECT_EQ(to_utf8(std::u16string(1, char16_t(0xD800))), "\xEF\xBF\xBD");
}

TEST(ReportReader, JsonStringsAreValidWhateverTheBytes)
{
    const struct {
        const char* name;
        std::string text;
        std::string json;
    } cases[] = {
        {"plain", "abc", "\"abc\""},
        {"quote and backslash", "a\"b\\c", "\"a\\\"b\\\\c\""},
        {"control characters", std::string("a\n\x01\0b", 5), "\"a\\u000a\\u0001\\u0000b\""},
        {"UTF-8 kept", "\xC4\x8D \xF0\x9F\x98\x80", "\"\xC4\x8D \xF0\x9F\x98\x80\""},
        {"stray continuation byte",
         "a\x80"
         "b",
         "\"a\\ufffd"
         "b\""},
        {"overlong slash", "\xC0\xAF", "\"\\ufffd\\ufffd\""},
        {"encoded surrogate", "\xED\xA0\x80", "\"\\ufffd\\ufffd\\ufffd\""},
        {"beyond U+10FFFF", "\xF4\x90\x80\x80", "\"\\ufffd\\ufffd\\ufffd\\ufffd\""},
        {"cut short at the end", "ab\xE2\x82", "\"ab\\ufffd\\ufffd\""},
    };
    for (const auto& c : cases)
        EXPECT_EQ(json_string(c.text), c.json) << c.name;
}

TEST(ReportReader, JsonSplitsSymbolsIntoFunctionAndPlace)
{
    const report r = parse_report(bxo_header()
                                      .exception(0xC0000005, 0x4015C0)
                                      .module(u"host.exe", 0x400000, false)
                                      .frame(0x15C0)
                                      .frame(0x1700)
                                      .data);
    const std::string json = to_json(r, {"fault_here() at host.cpp:10"});
    EXPECT_NE(json.find("{\"module\": 0, \"offset\": 5568, \"function\": \"fault_here()\", \"place\": \"host.cpp:10\", "
                        "\"snapshot\": 0}"),
              std::string::npos)
        << json;
    EXPECT_NE(json.find("{\"module\": 0, \"offset\": 5888, \"snapshot\": 0}"), std::string::npos)
        << "no symbol, no function: " << json;
    EXPECT_NE(json.find("\"name\": \"EXCEPTION_ACCESS_VIOLATION\""), std::string::npos) << json;
}

}  // namespace
