#include "crashreport/report_writer.hpp"

#include <windows.h>

#include <dbghelp.h>

#include <algorithm>
#include <cstring>

#include "base/locale.hpp"
#include "base/startup_order.hpp"
#include "crashreport/report_format.hpp"
#include "crashreport/reporter_state.hpp"
#include "stream/cache.hpp"
#include "stream/zlib_writer.hpp"
#include "win/error.hpp"
#include "win/format.hpp"

namespace brindlex {

namespace {

using fenrix::stream::basic;

constexpr std::size_t path_units = 260;
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

private:
    basic& target;
};

void write_exception_record(report_output& out, const EXCEPTION_RECORD& record)
{
    const std::uint32_t parameters = std::min<std::uint32_t>(record.NumberParameters, format::max_exception_parameters);
    out.u32(record.ExceptionCode);
    out.u32(record.ExceptionFlags);
    out.u32(std::uint32_t(reinterpret_cast<std::uintptr_t>(record.ExceptionAddress)));
    out.u32(parameters);
    for (std::uint32_t i = 0; i < parameters; ++i)
        out.u32(std::uint32_t(record.ExceptionInformation[i]));
}

void write_context(report_output& out, const CONTEXT& c)
{
    const DWORD flags = c.ContextFlags;
    out.u32(flags);
    if (flags & format::context_integer) {
        for (DWORD value : {c.Eax, c.Ebx, c.Ecx, c.Edx, c.Esi, c.Edi})
            out.u32(value);
    }
    if (flags & format::context_control) {
        for (DWORD value : {c.SegSs, c.Esp, c.Ebp, c.SegCs, c.Eip, c.EFlags})
            out.u32(value);
    }
    if (flags & format::context_segments) {
        for (DWORD value : {c.SegDs, c.SegEs, c.SegFs, c.SegGs})
            out.u32(value);
    }
    if (flags & format::context_floating_point) {
        const FLOATING_SAVE_AREA& f = c.FloatSave;
        for (DWORD value : {f.ControlWord, f.StatusWord, f.TagWord, f.ErrorOffset, f.ErrorSelector, f.DataOffset,
                            f.DataSelector, f.Cr0NpxState})
            out.u32(value);
        out.bytes(f.RegisterArea, sizeof f.RegisterArea);
    }
    if (flags & format::context_extended_registers)
        out.bytes(c.ExtendedRegisters, sizeof c.ExtendedRegisters);
    if (flags & format::context_debug_registers) {
        for (DWORD value : {c.Dr0, c.Dr1, c.Dr2, c.Dr3, c.Dr6, c.Dr7})
            out.u32(value);
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
    return std::uint32_t(std::min(reached, end) - start);
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
    out.u32(std::uint32_t(stack));
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
    out.u32(std::uint32_t(base));
}

void walk_stack(report_output& out, format::report_kind kind)
{
    const crash_reporter& r = reporter();
    context_copy = *r.exception_pointers->ContextRecord;
    std::memset(&stack_frame, 0, sizeof stack_frame);
    stack_frame.AddrPC.Offset = context_copy.Eip;
    stack_frame.AddrPC.Mode = AddrModeFlat;
    stack_frame.AddrFrame.Offset = context_copy.Ebp;
    stack_frame.AddrFrame.Mode = AddrModeFlat;
    stack_frame.AddrStack.Offset = context_copy.Esp;
    stack_frame.AddrStack.Mode = AddrModeFlat;
    DWORD64 last_base = 0;
    bool module_written = false;
    for (;;) {
        const bool walked =
            StackWalk64(IMAGE_FILE_MACHINE_I386, r.crash_process_handle, r.crash_thread_handle, &stack_frame,
                        &context_copy, nullptr, SymFunctionTableAccess64, SymGetModuleBase64, nullptr);
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
    report_path_.reserve(path_units);
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
        name.assign(buffer, length);
    } else if (length != 0) {
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
    fenrix::zlib_writer compressor(stream, 9, 4096);
    report_output out(compressor);
    out.tag(kind == format::bxr ? format::magic_bxr : format::magic_bxo);
    out.u16(format::machine_i386);

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
