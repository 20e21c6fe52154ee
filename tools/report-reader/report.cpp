#include "tools/report-reader/report.hpp"

#include <zlib.h>

#include <cstdio>
#include <cstring>

#include "crashreport/report_format.hpp"

namespace report_reader {

namespace format = brindlex::format;

std::string inflate_report(const std::string& compressed, std::size_t limit)
{
    z_stream z{};
    if (inflateInit(&z) != Z_OK)
        throw report_error("zlib could not be initialised");
    std::string out;
    char buffer[16384];
    z.next_in = reinterpret_cast<Bytef*>(const_cast<char*>(compressed.data()));
    z.avail_in = uInt(compressed.size());
    int result = Z_OK;
    while (result == Z_OK) {
        z.next_out = reinterpret_cast<Bytef*>(buffer);
        z.avail_out = sizeof buffer;
        result = inflate(&z, Z_NO_FLUSH);
        out.append(buffer, sizeof buffer - z.avail_out);
        if (out.size() > limit) {
            inflateEnd(&z);
            throw report_error("the report inflates to more than " + std::to_string(limit) +
                               " bytes, more than any crash report holds");
        }
        if (result == Z_BUF_ERROR && z.avail_in == 0) {
            inflateEnd(&z);
            throw report_error("the zlib stream is truncated");
        }
    }
    const std::string message = z.msg ? z.msg : "";
    const uInt left = z.avail_in;
    inflateEnd(&z);
    if (result != Z_STREAM_END)
        throw report_error("not a valid zlib stream" + (message.empty() ? "" : ": " + message));
    if (left != 0)
        throw report_error(std::to_string(left) + " bytes follow the zlib stream");
    return out;
}

namespace {

class cursor {
public:
    explicit cursor(const std::string& data) : data(data) {}

    bool at_end() const { return position == data.size(); }
    std::size_t offset() const { return position; }
    std::size_t left() const { return data.size() - position; }

    [[noreturn]] void fail(const std::string& what) const
    {
        throw report_error(what + " (at offset " + std::to_string(position) + ")");
    }

    void need(std::size_t n, const char* what) const
    {
        if (left() < n)
            fail(std::string("truncated ") + what);
    }

    std::uint16_t u16(const char* what)
    {
        need(2, what);
        const auto* p = reinterpret_cast<const unsigned char*>(data.data() + position);
        position += 2;
        return std::uint16_t(p[0] | p[1] << 8);
    }

    std::uint32_t u32(const char* what)
    {
        need(4, what);
        const auto* p = reinterpret_cast<const unsigned char*>(data.data() + position);
        position += 4;
        return std::uint32_t(p[0]) | std::uint32_t(p[1]) << 8 | std::uint32_t(p[2]) << 16 | std::uint32_t(p[3]) << 24;
    }

    // A field of `width` bytes (4 or 8).
    std::uint64_t number(std::uint32_t width, const char* what)
    {
        if (width == 4)
            return u32(what);
        need(8, what);
        const std::uint64_t low = u32(what);
        return low | std::uint64_t(u32(what)) << 32;
    }

    std::vector<std::uint8_t> bytes(std::size_t n, const char* what)
    {
        need(n, what);
        std::vector<std::uint8_t> out(data.begin() + std::ptrdiff_t(position),
                                      data.begin() + std::ptrdiff_t(position + n));
        position += n;
        return out;
    }

    std::u16string units(std::uint32_t n, const char* what)
    {
        if (left() / 2 < n)
            fail(std::string("truncated ") + what);
        std::u16string out;
        out.reserve(n);
        for (std::uint32_t i = 0; i < n; ++i)
            out += char16_t(u16(what));
        return out;
    }

    bool tag_is(const char (&tag)[4]) const { return left() >= 4 && std::memcmp(data.data() + position, tag, 4) == 0; }

    void skip_tag() { position += 4; }

private:
    const std::string& data;
    std::size_t position = 0;
};

exception_record read_exception(cursor& in, const format::machine_layout& layout)
{
    exception_record record;
    record.code = in.u32("exception code");
    record.flags = in.u32("exception flags");
    record.address = in.number(layout.address_bytes, "exception address");
    const std::uint32_t count = in.u32("parameter count");
    if (count > format::max_exception_parameters)
        in.fail("exception record with " + std::to_string(count) + " parameters (at most 15)");
    for (std::uint32_t i = 0; i < count; ++i)
        record.parameters.push_back(in.number(layout.address_bytes, "exception parameter"));
    return record;
}

context_block read_context(cursor& in, const format::machine_layout& layout)
{
    context_block context;
    context.flags = in.u32("context flags");
    for (const format::context_group& group : layout.context) {
        if (!(context.flags & group.flag))
            continue;
        for (const char* name : group.registers)
            context.registers.emplace_back(name, in.number(layout.register_bytes, "context register"));
        if (group.area_bytes)
            context.areas.emplace_back(group.area, in.bytes(group.area_bytes, "context register area"));
    }
    return context;
}

std::vector<std::u16string> split_trace(const std::u16string& text, cursor& in)
{
    if (text.empty() || text.back() != u'\0')
        in.fail("trace section whose last line has no terminating zero");
    std::vector<std::u16string> lines;
    std::size_t start = 0;
    for (std::size_t i = 0; i < text.size(); ++i) {
        if (text[i] == u'\0') {
            lines.push_back(text.substr(start, i - start));
            start = i + 1;
        }
    }
    return lines;
}

}  // namespace

report parse_report(const std::string& content)
{
    cursor in(content);
    report r;
    if (in.tag_is(format::magic_bxo)) {
        r.detailed = false;
    } else if (in.tag_is(format::magic_bxr)) {
        r.detailed = true;
    } else {
        in.fail("not a crash report: the magic is neither BXO1 nor BXR1");
    }
    in.skip_tag();
    r.machine = in.u16("machine");
    const format::machine_layout* layout = format::layout_of(r.machine);
    if (!layout)
        in.fail("unknown machine " + std::to_string(r.machine) + " (i386, 332, and x64, 34404, are written)");

    if (!r.detailed) {
        r.exceptions.push_back(read_exception(in, *layout));
    } else {
        const std::uint32_t count = in.u32("exception count");
        if (count == 0)
            in.fail("a .bxr report without exception records");
        // Each record takes at least its fixed fields: a count beyond the data is a lie.
        if (count > in.left() / (12 + layout->address_bytes))
            in.fail("exception count " + std::to_string(count) + " exceeds the data");
        for (std::uint32_t i = 0; i < count; ++i)
            r.exceptions.push_back(read_exception(in, *layout));
        r.context = read_context(in, *layout);
    }

    if (in.tag_is(format::tag_trace)) {
        in.skip_tag();
        const std::uint32_t length = in.u32("trace length");
        r.trace = split_trace(in.units(length, "trace text"), in);
    }

    bool frame_since_module = true;
    while (!in.at_end()) {
        if (in.tag_is(format::tag_module)) {
            if (!frame_since_module)
                in.fail("module record without a frame after the previous one");
            in.skip_tag();
            module_record m;
            const std::uint32_t length = in.u32("module name length");
            m.name = in.units(length, "module name");
            m.time_stamp = in.u32("module time stamp");
            if (r.detailed)
                m.checksum = in.u32("module checksum");
            m.base = in.number(layout->address_bytes, "module base");
            if (!r.modules.empty() && r.modules.back().base == m.base)
                in.fail("module record repeats the module of the frame before it");
            r.modules.push_back(std::move(m));
            frame_since_module = false;
        } else if (in.tag_is(format::tag_frame)) {
            if (r.modules.empty())
                in.fail("frame record before any module record");
            in.skip_tag();
            frame_record f;
            f.module = r.modules.size() - 1;
            f.offset = in.u32("frame offset");
            if (r.detailed) {
                const std::uint32_t size = in.u32("stack snapshot size");
                if (size != 0) {
                    stack_snapshot s;
                    s.address = in.number(layout->address_bytes, "stack snapshot address");
                    s.bytes = in.bytes(size, "stack snapshot");
                    f.snapshot = std::move(s);
                }
            }
            r.frames.push_back(std::move(f));
            frame_since_module = true;
        } else if (in.left() < 4) {
            in.fail("truncated record tag");
        } else {
            in.fail("unknown record tag");
        }
    }
    if (!frame_since_module)
        in.fail("module record without a frame at the end");
    return r;
}

const char* exception_code_name(std::uint32_t code)
{
    switch (code) {
    case 0x80000001:
        return "EXCEPTION_GUARD_PAGE";
    case 0x80000002:
        return "EXCEPTION_DATATYPE_MISALIGNMENT";
    case 0x80000003:
        return "EXCEPTION_BREAKPOINT";
    case 0x80000004:
        return "EXCEPTION_SINGLE_STEP";
    case 0xC0000005:
        return "EXCEPTION_ACCESS_VIOLATION";
    case 0xC0000006:
        return "EXCEPTION_IN_PAGE_ERROR";
    case 0xC0000008:
        return "EXCEPTION_INVALID_HANDLE";
    case 0xC000001D:
        return "EXCEPTION_ILLEGAL_INSTRUCTION";
    case 0xC0000025:
        return "EXCEPTION_NONCONTINUABLE_EXCEPTION";
    case 0xC0000026:
        return "EXCEPTION_INVALID_DISPOSITION";
    case 0xC000008C:
        return "EXCEPTION_ARRAY_BOUNDS_EXCEEDED";
    case 0xC000008D:
        return "EXCEPTION_FLT_DENORMAL_OPERAND";
    case 0xC000008E:
        return "EXCEPTION_FLT_DIVIDE_BY_ZERO";
    case 0xC000008F:
        return "EXCEPTION_FLT_INEXACT_RESULT";
    case 0xC0000090:
        return "EXCEPTION_FLT_INVALID_OPERATION";
    case 0xC0000091:
        return "EXCEPTION_FLT_OVERFLOW";
    case 0xC0000092:
        return "EXCEPTION_FLT_STACK_CHECK";
    case 0xC0000093:
        return "EXCEPTION_FLT_UNDERFLOW";
    case 0xC0000094:
        return "EXCEPTION_INT_DIVIDE_BY_ZERO";
    case 0xC0000095:
        return "EXCEPTION_INT_OVERFLOW";
    case 0xC0000096:
        return "EXCEPTION_PRIV_INSTRUCTION";
    case 0xC00000FD:
        return "EXCEPTION_STACK_OVERFLOW";
    case 0xC0000374:
        return "STATUS_HEAP_CORRUPTION";
    case 0xC0000409:
        return "STATUS_STACK_BUFFER_OVERRUN";
    case 0xE06D7363:
        return "C++ exception (MSVC)";
    case format::cxx_exception_code:
        return "C++ exception (GCC)";
    default:
        return "";
    }
}

std::string to_utf8(const std::u16string& text)
{
    std::string out;
    for (std::size_t i = 0; i < text.size(); ++i) {
        std::uint32_t c = text[i];
        if (c >= 0xD800 && c < 0xDC00 && i + 1 < text.size() && text[i + 1] >= 0xDC00 && text[i + 1] < 0xE000) {
            c = 0x10000 + ((c - 0xD800) << 10) + (text[++i] - 0xDC00);
        } else if (c >= 0xD800 && c < 0xE000) {
            c = 0xFFFD;  // a lone surrogate
        }
        if (c < 0x80) {
            out += char(c);
        } else if (c < 0x800) {
            out += char(0xC0 | c >> 6);
            out += char(0x80 | (c & 0x3F));
        } else if (c < 0x10000) {
            out += char(0xE0 | c >> 12);
            out += char(0x80 | (c >> 6 & 0x3F));
            out += char(0x80 | (c & 0x3F));
        } else {
            out += char(0xF0 | c >> 18);
            out += char(0x80 | (c >> 12 & 0x3F));
            out += char(0x80 | (c >> 6 & 0x3F));
            out += char(0x80 | (c & 0x3F));
        }
    }
    return out;
}

const char* machine_name(std::uint16_t machine)
{
    const format::machine_layout* layout = format::layout_of(machine);
    return layout ? layout->name : "unknown";
}

namespace {

std::string hex(std::uint32_t value)
{
    char text[16];
    std::snprintf(text, sizeof text, "0x%08X", value);
    return text;
}

// An address or register as wide as the report's machine writes it.
std::string hex(std::uint64_t value, std::uint32_t bytes)
{
    char text[24];
    std::snprintf(text, sizeof text, "0x%0*llX", int(bytes * 2), static_cast<unsigned long long>(value));
    return text;
}

}  // namespace

std::string describe(const report& r, const symbol_lookup& symbols)
{
    const format::machine_layout* layout = format::layout_of(r.machine);
    const std::uint32_t address_bytes = layout ? layout->address_bytes : 8;
    const std::uint32_t register_bytes = layout ? layout->register_bytes : 8;
    std::string out = std::string("report: ") + (r.detailed ? "BXR1 (detailed)" : "BXO1") + ", machine " +
        machine_name(r.machine) + "\n";
    for (std::size_t i = 0; i < r.exceptions.size(); ++i) {
        const exception_record& e = r.exceptions[i];
        const std::string name = exception_code_name(e.code);
        out += "exception " + std::to_string(i) + ": code " + hex(e.code) + (name.empty() ? "" : " " + name) +
            ", flags " + hex(e.flags) + ", address " + hex(e.address, address_bytes) + "\n";
        if (!e.parameters.empty()) {
            out += "  parameters:";
            for (std::uint64_t p : e.parameters)
                out += " " + hex(p, address_bytes);
            out += "\n";
        }
    }
    if (r.context) {
        out += "context: flags " + hex(r.context->flags) + "\n";
        for (const auto& [name, value] : r.context->registers)
            out += "  " + name + " = " + hex(value, register_bytes) + "\n";
        for (const auto& [name, bytes] : r.context->areas)
            out += "  " + name + ": " + std::to_string(bytes.size()) + " bytes\n";
    }
    if (!r.trace.empty()) {
        out += "trace:\n";
        for (const auto& line : r.trace)
            out += "  " + to_utf8(line) + "\n";
    }
    out += "modules:\n";
    for (const module_record& m : r.modules) {
        out += "  " + to_utf8(m.name) + ": time stamp " + hex(m.time_stamp);
        if (m.checksum)
            out += ", checksum " + hex(*m.checksum);
        out += ", base " + hex(m.base, address_bytes) + "\n";
    }
    out += "frames:\n";
    for (std::size_t i = 0; i < r.frames.size(); ++i) {
        const frame_record& f = r.frames[i];
        char offset[16];
        std::snprintf(offset, sizeof offset, "+0x%X", f.offset);
        out += "  #" + std::to_string(i) + " " + to_utf8(r.modules[f.module].name) + offset;
        if (i < symbols.size() && !symbols[i].empty())
            out += " " + symbols[i];
        out += "\n";
        if (f.snapshot)
            out += "     stack snapshot: " + std::to_string(f.snapshot->bytes.size()) + " bytes at " +
                hex(f.snapshot->address, address_bytes) + "\n";
        else if (r.detailed)
            out += "     stack snapshot: none\n";
    }
    return out;
}

}  // namespace report_reader
