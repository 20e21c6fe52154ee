#include "crashreport/report_writer.hpp"

#include <windows.h>

#include <dbghelp.h>

#include <algorithm>
#include <cstring>

#include "base/locale.hpp"
#include "base/startup_order.hpp"
#include "crashreport/native_context.hpp"
#include "crashreport/report_format.hpp"
#include "crashreport/reporter_state.hpp"
#include "crashreport/zlib_arena.hpp"
#include "stream/cache.hpp"
#include "stream/zlib_writer.hpp"
#include "win/error.hpp"
#include "win/format.hpp"

namespace brindlex {

namespace {

using fenrix::stream::basic;

constexpr std::size_t path_units = 260;
// The temporary folder's path and the longest report file name after it.
constexpr std::size_t report_path_units = path_units + 16;
constexpr std::size_t compressor_buffer_bytes = 4096;
// A new number for each crash: the .bxo file is created new, so two
// processes that crash at once take different numbers.
constexpr int mode_report = fenrix::stream::mode_read | fenrix::stream::mode_write | fenrix::stream::mode_create_new |
    fenrix::stream::mode_share_read | fenrix::stream::mode_sequential;
constexpr int mode_companion = fenrix::stream::mode_read | fenrix::stream::mode_write |
    fenrix::stream::mode_create_always | fenrix::stream::mode_sequential;
// A corrupt chain could loop; the system never nests records this deep.
constexpr unsigned max_chain_length = 64;

// Crash-time storage, reserved before the entry point (after the locales).
std::wstring report_path_ __attribute__((init_priority(fenrix::startup_order::crash_storage)));
std::wstring module_name __attribute__((init_priority(fenrix::startup_order::crash_storage)));
unsigned report_counter = 0;
fenrix::stream::cached_file report_stream __attribute__((init_priority(fenrix::startup_order::crash_storage))) (4096);
CONTEXT context_copy;
STACKFRAME64 stack_frame;
// zlib's state at level 9 with the default window and memory level (256 KiB
// and a few small objects) and the output buffer.
zlib_arena compression_memory __attribute__((init_priority(fenrix::startup_order::crash_storage))) (280 * 1024);

// Writes the fields of a report; after the first failed write every further
// field is skipped, so the report ends short.
class report_output {
public:
    explicit report_output(basic& target) : target(target) {}

    void bytes(const void* data, std::size_t length)
    {
        if (target.state == fenrix::stream::ok && length > 0)
            target.write(data, length);
    }
    void tag(const char (&name)[4]) { bytes(name, 4); }
    void u16(std::uint16_t value) { bytes(&value, sizeof value); }
    void u32(std::uint32_t value) { bytes(&value, sizeof value); }
    // `width` bytes of value, little-endian like the processor (4 or 8).
    void number(std::uint64_t value, std::uint32_t width) { bytes(&value, width); }
    // An address field of this build's variant.
    void address(std::uint64_t value) { number(value, native_layout().address_bytes); }

private:
    basic& target;
};

void write_exception_record(report_output& out, const EXCEPTION_RECORD& record)
{
    const std::uint32_t parameters = std::min<std::uint32_t>(record.NumberParameters, format::max_exception_parameters);
    out.u32(record.ExceptionCode);
    out.u32(record.ExceptionFlags);
    out.address(reinterpret_cast<std::uintptr_t>(record.ExceptionAddress));
    out.u32(parameters);
    for (std::uint32_t i = 0; i < parameters; ++i)
        out.address(record.ExceptionInformation[i]);
}

void write_context(report_output& out, const CONTEXT& c)
{
    const format::machine_layout& layout = native_layout();
    const DWORD flags = c.ContextFlags;
    out.u32(flags);
    for (const format::context_group& group : layout.context) {
        if (!(flags & group.flag))
            continue;
        const context_group_values values = group_values(c, group);
        for (std::size_t i = 0; i < values.count; ++i)
            out.number(values.registers[i], layout.register_bytes);
        out.bytes(values.area, group.area_bytes);
    }
}

bool readable(const MEMORY_BASIC_INFORMATION& region)
{
    constexpr DWORD readable_protections = PAGE_READONLY | PAGE_READWRITE | PAGE_WRITECOPY | PAGE_EXECUTE_READ |
        PAGE_EXECUTE_READWRITE | PAGE_EXECUTE_WRITECOPY;
    return region.State == MEM_COMMIT && !(region.Protect & (PAGE_GUARD | PAGE_NOACCESS)) &&
        (region.Protect & readable_protections);
}

// How many bytes from `start` towards `end` lie in committed, readable memory
// of the faulting thread's stack: a corrupt frame pointer must not make the
// snapshot read beyond it.
std::uint32_t readable_stack_bytes(std::uintptr_t start, std::uintptr_t end)
{
    const crash_reporter& r = reporter();
    if (start < r.crash_stack_low || start >= r.crash_stack_high)
        return 0;
    end = std::min<std::uintptr_t>(end, r.crash_stack_high);
    std::uintptr_t reached = start;
    while (reached < end) {
        MEMORY_BASIC_INFORMATION region;
        if (VirtualQuery(reinterpret_cast<const void*>(reached), &region, sizeof region) < sizeof region)
            break;
        if (!readable(region))
            break;
        reached = reinterpret_cast<std::uintptr_t>(region.BaseAddress) + region.RegionSize;
    }
    // A snapshot's size field is 32 bits wide.
    return std::uint32_t(std::min<std::uintptr_t>(std::min(reached, end) - start, UINT32_MAX));
}

void write_stack_snapshot(report_output& out, bool walked, const STACKFRAME64& frame)
{
    const DWORD64 stack = frame.AddrStack.Offset;
    const DWORD64 top = frame.AddrFrame.Offset;
    std::uint32_t size = 0;
    if (walked && stack != 0 && top != 0 && stack < top)
        size = readable_stack_bytes(std::uintptr_t(stack), std::uintptr_t(top));
    out.u32(size);
    if (size == 0)
        return;
    out.address(stack);
    out.bytes(reinterpret_cast<const void*>(std::uintptr_t(stack)), size);
}

void write_module(report_output& out, format::report_kind kind, DWORD64 base)
{
    const IMAGE_NT_HEADERS* headers = ImageNtHeader(reinterpret_cast<void*>(std::uintptr_t(base)));
    module_file_name(reinterpret_cast<HMODULE>(std::uintptr_t(base)), module_name);
    out.tag(format::tag_module);
    out.u32(std::uint32_t(module_name.size()));
    out.bytes(module_name.data(), module_name.size() * sizeof(wchar_t));
    out.u32(headers ? headers->FileHeader.TimeDateStamp : 0);
    if (kind == format::bxr)
        out.u32(headers ? headers->OptionalHeader.CheckSum : 0);
    out.address(base);
}

void walk_stack(report_output& out, format::report_kind kind)
{
    const crash_reporter& r = reporter();
    context_copy = *r.exception_pointers->ContextRecord;
    std::memset(&stack_frame, 0, sizeof stack_frame);
    const walk_start start = walk_start_of(context_copy);
    stack_frame.AddrPC.Offset = start.pc;
    stack_frame.AddrPC.Mode = AddrModeFlat;
    stack_frame.AddrFrame.Offset = start.frame;
    stack_frame.AddrFrame.Mode = AddrModeFlat;
    stack_frame.AddrStack.Offset = start.stack;
    stack_frame.AddrStack.Mode = AddrModeFlat;
    const DWORD machine = native_layout().machine;
    DWORD64 last_base = 0;
    bool module_written = false;
    for (;;) {
        const bool walked = StackWalk64(machine, r.crash_process_handle, r.crash_thread_handle.get(), &stack_frame,
                                        &context_copy, nullptr, walk_function_table, walk_module_base, nullptr);
        if (!walked && module_written)
            break;
        const DWORD64 pc = stack_frame.AddrPC.Offset;
        if (pc == 0)
            break;
        DWORD64 base = SymGetModuleBase64(r.crash_process_handle, pc);
        if (base == 0) {
            MEMORY_BASIC_INFORMATION region;
            if (VirtualQuery(reinterpret_cast<const void*>(std::uintptr_t(pc)), &region, sizeof region) < 8)
                break;
            base = reinterpret_cast<std::uintptr_t>(region.AllocationBase);
            if (base == 0)
                break;
        }
        if (IsBadCodePtr(reinterpret_cast<FARPROC>(std::uintptr_t(pc))))
            break;
        if (base != last_base) {
            write_module(out, kind, base);
            last_base = base;
            module_written = true;
        }
        out.tag(format::tag_frame);
        // An offset into an image is 32 bits wide in both variants (a PE32+
        // image is smaller than 4 GiB too).
        out.u32(std::uint32_t(pc - base));
        if (kind == format::bxr)
            write_stack_snapshot(out, walked, stack_frame);
        if (pc == stack_frame.AddrReturn.Offset)
            break;
    }
}

}  // namespace

void reserve_report_buffers()
{
    report_path_.reserve(report_path_units);
    module_name.reserve(path_units);
}

const std::wstring& report_path()
{
    return report_path_;
}

void temp_folder(std::wstring& path)
{
    path.resize(path_units);
    const DWORD length = GetTempPathW(DWORD(path_units), path.data());
    if (length == 0 || length > path_units)
        throw wembra::win_runtime_error("GetTempPath failed");
    path.resize(length);
}

void module_file_name(HMODULE module, std::wstring& name)
{
    wchar_t buffer[512];
    DWORD length = GetModuleFileNameW(module, buffer, 512);
    if (length != 0 && length < 512) {
        // Only the file name goes into `name`: it fits the room reserved at
        // start-up, where the whole path might not.
        const wchar_t* file = buffer + length;
        while (file > buffer && file[-1] != L'\\')
            --file;
        name.assign(file, std::size_t(buffer + length - file));
        return;
    }
    if (length != 0) {
        for (DWORD size = 1024;; size *= 2) {
            name.resize(size - 1);
            length = GetModuleFileNameW(module, name.data(), size);
            if (length == 0 || length < size)
                break;
        }
        name.resize(length);
    }
    if (length == 0)
        throw wembra::win_runtime_error("GetModuleFileNameW failed");
    const std::size_t slash = name.rfind(L'\\');
    if (slash != std::wstring::npos)
        name.erase(0, slash + 1);
}

void write_report(format::report_kind kind, bool include_trace, basic& stream)
{
    const crash_reporter& r = reporter();
    fenrix::zlib_writer compressor(stream, 9, compressor_buffer_bytes,
                                   compression_memory.take(compressor_buffer_bytes));
    report_output out(compressor);
    out.tag(kind == format::bxr ? format::magic_bxr : format::magic_bxo);
    out.u16(native_layout().machine);

    const EXCEPTION_RECORD* record = r.exception_pointers->ExceptionRecord;
    if (kind == format::bxo) {
        write_exception_record(out, *record);
    } else {
        std::uint32_t count = 0;
        for (const EXCEPTION_RECORD* link = record; link && count < max_chain_length; link = link->ExceptionRecord)
            ++count;
        out.u32(count);
        const EXCEPTION_RECORD* link = record;
        for (std::uint32_t i = 0; i < count; ++i, link = link->ExceptionRecord)
            write_exception_record(out, *link);
        write_context(out, *r.exception_pointers->ContextRecord);
    }

    if (include_trace && !r.trace_snapshot.empty()) {
        out.tag(format::tag_trace);
        out.u32(std::uint32_t(r.trace_snapshot.size()));
        out.bytes(r.trace_snapshot.data(), r.trace_snapshot.size() * sizeof(wchar_t));
    }
    walk_stack(out, kind);
}

void save_report_files(bool include_trace)
{
    report_counter = 0;
    for (;;) {
        temp_folder(report_path_);
        wembra::format_append(report_path_, L"%u.bxo", fenrix::c_locale, report_counter);
        report_stream.open(report_path_.c_str(), mode_report);
        if (report_stream.state == fenrix::stream::ok)
            break;
        const DWORD error = GetLastError();
        if (error != ERROR_FILE_EXISTS)
            throw wembra::win_runtime_error(error, "Napaka pri ustvarjanju datoteke BXO");
        ++report_counter;
    }
    try {
        write_report(format::bxo, include_trace, report_stream);
        report_path_.erase(report_path_.rfind(L'.'));
        report_path_ += L".bxr";
        report_stream.open(report_path_.c_str(), mode_companion);
        if (report_stream.state != fenrix::stream::ok)
            throw wembra::win_runtime_error("Napaka pri ustvarjanju datoteke BXR");
        write_report(format::bxr, include_trace, report_stream);
        report_stream.close();
    } catch (...) {
        try {
            report_stream.close();
        } catch (...) {
            // The first failure is the one to report.
        }
        throw;
    }
}

}  // namespace brindlex
