// The report writer and the trace log inside one process: crash-time state is
// set up by hand from a captured context, and the reports are read back with
// the report reader.
#include <windows.h>

#include <dbghelp.h>
#include <gtest/gtest.h>

#include <cstring>
#include <filesystem>
#include <new>
#include <string>
#include <thread>
#include <vector>

#include "crashreport/crash_reporter.hpp"
#include "crashreport/exception_guard.hpp"
#include "crashreport/native_context.hpp"
#include "crashreport/report_format.hpp"
#include "crashreport/report_writer.hpp"
#include "crashreport/reporter_state.hpp"
#include "crashreport/zlib_arena.hpp"
#include "stream/memory_file.hpp"
#include "tools/report-reader/report.hpp"
#include "win/error.hpp"

// Allocations through operator new on a thread while it counts them: what
// the crash path must not make on the faulting thread.
thread_local bool counting_allocations = false;
thread_local std::size_t counted_allocations = 0;

void* operator new(std::size_t size)
{
    if (counting_allocations)
        ++counted_allocations;
    if (void* memory = HeapAlloc(GetProcessHeap(), 0, size ? size : 1))
        return memory;
    throw std::bad_alloc();
}

void operator delete(void* memory) noexcept
{
    if (memory)
        HeapFree(GetProcessHeap(), 0, memory);
}

void operator delete(void* memory, std::size_t) noexcept
{
    operator delete(memory);
}

namespace {

using namespace brindlex;
namespace fs = std::filesystem;

std::string read_back(fenrix::stream::memory_file& body)
{
    return report_reader::inflate_report(
        std::string(reinterpret_cast<const char*>(body.bytes()), std::size_t(body.size())));
}

report_reader::report write_and_read(format::report_kind kind, bool include_trace)
{
    fenrix::stream::memory_file body;
    write_report(kind, include_trace, body);
    return report_reader::parse_report(read_back(body));
}

std::u16string as_u16(const std::wstring& text)
{
    return std::u16string(text.begin(), text.end());
}

// Crash-time state as the exception filter leaves it, from a context taken
// here instead of at a fault, and the symbol handler initialised as the crash
// worker does before it writes (an x64 walk needs the modules' unwind data).
class crash_state : public ::testing::Test {
protected:
    static void SetUpTestSuite() { symbols = SymInitialize(GetCurrentProcess(), nullptr, TRUE); }
    static void TearDownTestSuite()
    {
        if (symbols)
            SymCleanup(GetCurrentProcess());
    }
    static inline bool symbols = false;

    void SetUp() override
    {
        capture();
        record = {};
        record.ExceptionCode = EXCEPTION_ACCESS_VIOLATION;
        record.ExceptionAddress = reinterpret_cast<void*>(std::uintptr_t(pc()));
        record.NumberParameters = 2;
        record.ExceptionInformation[0] = 1;
        record.ExceptionInformation[1] = 0x10;
        pointers = {&record, &context};
        crash_reporter& r = reporter();
        r.exception_pointers = &pointers;
        r.crash_process_handle = GetCurrentProcess();
        take_crash_thread(r);
        r.trace_snapshot.clear();
    }

    void TearDown() override
    {
        reporter().crash_thread_handle.attach(nullptr);
        reporter().exception_pointers = nullptr;
        reporter().trace_snapshot.clear();
    }

    __attribute__((noinline)) void capture() { RtlCaptureContext(&context); }
    std::uint64_t pc() const { return walk_start_of(context).pc; }
    std::uint64_t stack_pointer() const { return walk_start_of(context).stack; }
    std::uint64_t frame_pointer() const { return walk_start_of(context).frame; }
    void set_stack_and_frame(std::uint64_t stack, std::uint64_t frame)
    {
        walk_start start = walk_start_of(context);
        start.stack = stack;
        start.frame = frame;
        set_walk_start(context, start);
    }

    CONTEXT context{};
    EXCEPTION_RECORD record{};
    EXCEPTION_POINTERS pointers{};
};

TEST_F(crash_state, observation_report_holds_the_exception_and_module_relative_frames)
{
    const report_reader::report r = write_and_read(format::bxo, true);
    EXPECT_FALSE(r.detailed);
    ASSERT_EQ(r.exceptions.size(), 1u);
    EXPECT_EQ(r.exceptions[0].code, 0xC0000005u);
    EXPECT_EQ(r.exceptions[0].address, pc());
    EXPECT_EQ(r.exceptions[0].parameters, (std::vector<std::uint64_t>{1, 0x10}));
    EXPECT_FALSE(r.context);
    EXPECT_TRUE(r.trace.empty()) << "an empty trace log gives no trace section, even when asked for";
    ASSERT_FALSE(r.frames.empty());
    std::wstring program;
    module_file_name(nullptr, program);
    EXPECT_EQ(r.modules[0].name, as_u16(program)) << "the bare file name of the executable";
    EXPECT_EQ(r.modules[0].base, reinterpret_cast<std::uintptr_t>(GetModuleHandleW(nullptr)));
    EXPECT_EQ(r.frames[0].offset, pc() - r.modules[0].base);
    for (const auto& m : r.modules)
        EXPECT_FALSE(m.checksum);
    for (const auto& f : r.frames)
        EXPECT_FALSE(f.snapshot);
}

// What a report of this build holds that depends on the processor: the
// registers by name, each group's first register, its register and area
// counts, read from the context independently of the writer.
struct group_case {
    std::uint32_t flag;
    const char* first_register;
    std::uint64_t first_value;
    std::size_t registers;
    std::size_t areas;
};

struct native_facts {
    std::uint16_t machine;
    const char *pc, *stack, *frame;
    std::vector<group_case> groups;
};

native_facts facts_of(const CONTEXT& c)
{
#ifdef _WIN64
    return {0x8664,
            "rip",
            "rsp",
            "rbp",
            {{format::amd64_context_integer, "rax", c.Rax, 15, 0},
             {format::amd64_context_control, "ss", c.SegSs, 5, 0},
             {format::amd64_context_segments, "ds", c.SegDs, 4, 0},
             {format::amd64_context_floating_point, "mxcsr", c.MxCsr, 1, 1},
             {format::amd64_context_debug_registers, "dr0", c.Dr0, 6, 0}}};
#else
    return {0x014C,
            "eip",
            "esp",
            "ebp",
            {{format::context_integer, "eax", c.Eax, 6, 0},
             {format::context_control, "ss", c.SegSs, 6, 0},
             {format::context_segments, "ds", c.SegDs, 4, 0},
             {format::context_floating_point, "fpu control", c.FloatSave.ControlWord, 8, 1},
             {format::context_extended_registers, nullptr, 0, 0, 1},
             {format::context_debug_registers, "dr0", c.Dr0, 6, 0}}};
#endif
}

std::uint64_t register_named(const report_reader::context_block& context, const std::string& name)
{
    for (const auto& [register_name, value] : context.registers) {
        if (register_name == name)
            return value;
    }
    ADD_FAILURE() << "no register " << name;
    return 0;
}

TEST_F(crash_state, detailed_report_adds_chain_context_checksums_and_snapshots)
{
    EXCEPTION_RECORD inner{};
    inner.ExceptionCode = EXCEPTION_INT_DIVIDE_BY_ZERO;
    record.ExceptionRecord = &inner;
    const report_reader::report r = write_and_read(format::bxr, false);
    const native_facts facts = facts_of(context);
    EXPECT_TRUE(r.detailed);
    EXPECT_EQ(r.machine, facts.machine);
    ASSERT_EQ(r.exceptions.size(), 2u);
    EXPECT_EQ(r.exceptions[1].code, 0xC0000094u);
    ASSERT_TRUE(r.context);
    EXPECT_EQ(r.context->flags, context.ContextFlags);
    std::size_t registers = 0;
    for (const group_case& group : facts.groups)
        registers += group.registers;
    EXPECT_EQ(r.context->registers.size(), registers) << "the architecture bit makes every group present";
    EXPECT_EQ(register_named(*r.context, facts.pc), pc());
    EXPECT_EQ(register_named(*r.context, facts.stack), stack_pointer());
    EXPECT_EQ(register_named(*r.context, facts.frame), frame_pointer());
    for (const auto& m : r.modules)
        EXPECT_TRUE(m.checksum);
    ASSERT_TRUE(r.frames[0].snapshot);
    EXPECT_EQ(r.frames[0].snapshot->address, stack_pointer());
}

// One register group at a time (its group bit without the architecture bit,
// which would make every group present): the writer picks the group by its
// named flag and writes that group's registers, nothing else.
TEST_F(crash_state, each_named_context_group_alone)
{
    const native_facts facts = facts_of(context);
    for (const group_case& c : facts.groups) {
        context.ContextFlags = c.flag & 0xFFFF;
        const report_reader::report r = write_and_read(format::bxr, false);
        ASSERT_TRUE(r.context) << std::hex << c.flag;
        EXPECT_EQ(r.context->flags, c.flag & 0xFFFF);
        ASSERT_EQ(r.context->registers.size(), c.registers) << std::hex << c.flag;
        EXPECT_EQ(r.context->areas.size(), c.areas) << std::hex << c.flag;
        if (c.first_register) {
            EXPECT_EQ(r.context->registers[0].first, c.first_register);
            EXPECT_EQ(r.context->registers[0].second, c.first_value) << c.first_register;
        }
    }
}

// Field by field as the format's documentation lays it out, built here
// without the format's tables: the header, the exception chain and the
// context block of a .bxr report. For i386 this is the layout reports had
// before the x64 variant existed.
class expected_bytes {
public:
    expected_bytes& raw(const void* data, std::size_t length)
    {
        text.append(static_cast<const char*>(data), length);
        return *this;
    }
    expected_bytes& u16(std::uint16_t v) { return raw(&v, 2); }
    expected_bytes& u32(std::uint32_t v) { return raw(&v, 4); }
    expected_bytes& u64(std::uint64_t v) { return raw(&v, 8); }
    template <class... Values>
    expected_bytes& u32s(Values... values)
    {
        (u32(std::uint32_t(values)), ...);
        return *this;
    }
    template <class... Values>
    expected_bytes& u64s(Values... values)
    {
        (u64(std::uint64_t(values)), ...);
        return *this;
    }
    std::string text;
};

TEST_F(crash_state, exception_part_and_context_block_as_documented)
{
    // Every register a value of its own; the walk's three stay real.
    auto* words = reinterpret_cast<unsigned char*>(&context);
    const walk_start start = walk_start_of(context);
    const DWORD flags = context.ContextFlags;
    for (std::size_t i = 0; i < sizeof context; ++i)
        words[i] = static_cast<unsigned char>(i * 7 + 1);
    context.ContextFlags = flags;
    set_walk_start(context, start);
    record.ExceptionFlags = 1;
    const CONTEXT& c = context;
    expected_bytes e;
#ifdef _WIN64
    e.raw("BXR1", 4).u16(0x8664).u32(1);
    e.u32s(record.ExceptionCode, 1).u64(std::uintptr_t(record.ExceptionAddress)).u32(2).u64s(1, 0x10);
    e.u32(c.ContextFlags);
    e.u64s(c.Rax, c.Rcx, c.Rdx, c.Rbx, c.Rbp, c.Rsi, c.Rdi, c.R8, c.R9, c.R10, c.R11, c.R12, c.R13, c.R14, c.R15);
    e.u64s(c.SegSs, c.Rsp, c.SegCs, c.Rip, c.EFlags);
    e.u64s(c.SegDs, c.SegEs, c.SegFs, c.SegGs);
    e.u64(c.MxCsr).raw(&c.FltSave, 512);
    e.u64s(c.Dr0, c.Dr1, c.Dr2, c.Dr3, c.Dr6, c.Dr7);
#else
    e.raw("BXR1", 4).u16(0x014C).u32(1);
    e.u32s(record.ExceptionCode, 1, std::uintptr_t(record.ExceptionAddress), 2, 1, 0x10);
    e.u32(c.ContextFlags);
    e.u32s(c.Eax, c.Ebx, c.Ecx, c.Edx, c.Esi, c.Edi);
    e.u32s(c.SegSs, c.Esp, c.Ebp, c.SegCs, c.Eip, c.EFlags);
    e.u32s(c.SegDs, c.SegEs, c.SegFs, c.SegGs);
    const FLOATING_SAVE_AREA& f = c.FloatSave;
    e.u32s(f.ControlWord, f.StatusWord, f.TagWord, f.ErrorOffset, f.ErrorSelector, f.DataOffset, f.DataSelector,
           f.Cr0NpxState);
    e.raw(f.RegisterArea, 80).raw(c.ExtendedRegisters, 512);
    e.u32s(c.Dr0, c.Dr1, c.Dr2, c.Dr3, c.Dr6, c.Dr7);
#endif
    e.raw("MOD1", 4);
    fenrix::stream::memory_file body;
    write_report(format::bxr, false, body);
    const std::string content = read_back(body);
    ASSERT_GE(content.size(), e.text.size());
    EXPECT_EQ(content.substr(0, e.text.size()), e.text);
}

TEST_F(crash_state, trace_section_only_when_asked_for_and_present)
{
    const std::wstring lines(L"prvi\0drugi \u010d\0", 13);
    reporter().trace_snapshot.assign(lines.begin(), lines.end());
    EXPECT_EQ(write_and_read(format::bxo, true).trace, (std::vector<std::u16string>{u"prvi", u"drugi \u010d"}));
    EXPECT_TRUE(write_and_read(format::bxo, false).trace.empty());
    EXPECT_EQ(write_and_read(format::bxr, true).trace.size(), 2u);
}

// A corrupt frame pointer far above the stack must not make the snapshot read
// beyond the committed stack of the faulting thread.
TEST_F(crash_state, corrupt_frame_pointer_copies_no_more_than_the_stack)
{
    set_stack_and_frame(stack_pointer(), stack_pointer() + 0x4000000);
    const report_reader::report r = write_and_read(format::bxr, false);
    ASSERT_FALSE(r.frames.empty());
    if (r.frames[0].snapshot) {
        EXPECT_LE(r.frames[0].snapshot->bytes.size(), reporter().crash_stack_high - stack_pointer());
    }
}

TEST_F(crash_state, snapshot_stops_at_the_end_of_the_stack)
{
    ASSERT_GT(frame_pointer(), stack_pointer() + 4);
    reporter().crash_stack_high = ULONG_PTR(stack_pointer() + 4);
    const report_reader::report r = write_and_read(format::bxr, false);
    ASSERT_FALSE(r.frames.empty());
    ASSERT_TRUE(r.frames[0].snapshot);
    EXPECT_EQ(r.frames[0].snapshot->bytes.size(), 4u);
}

TEST_F(crash_state, snapshot_of_a_stack_pointer_outside_the_stack_is_empty)
{
    static char elsewhere[4096];
    set_stack_and_frame(reinterpret_cast<std::uintptr_t>(elsewhere), reinterpret_cast<std::uintptr_t>(elsewhere) + 64);
    const report_reader::report r = write_and_read(format::bxr, false);
    ASSERT_FALSE(r.frames.empty());
    EXPECT_FALSE(r.frames[0].snapshot) << "only the faulting thread's stack is copied";
}

// save_report_files in a temporary folder of the test's own.
class report_files : public crash_state {
protected:
    void SetUp() override
    {
        crash_state::SetUp();
        wchar_t original[MAX_PATH + 1];
        GetTempPathW(MAX_PATH, original);
        saved_tmp = original;
        folder = fs::path(original) / ("report-files-" + std::to_string(GetCurrentProcessId()));
        fs::remove_all(folder);
        fs::create_directories(folder);
        use_temp(folder);
    }
    void TearDown() override
    {
        SetEnvironmentVariableW(L"TMP", saved_tmp.c_str());
        fs::remove_all(folder);
        crash_state::TearDown();
    }
    void use_temp(const fs::path& path) { SetEnvironmentVariableW(L"TMP", (path.wstring() + L"\\").c_str()); }
    void touch(const char* name, const std::string& content = "old")
    {
        FILE* f = _wfopen((folder / name).c_str(), L"wb");
        fwrite(content.data(), 1, content.size(), f);
        fclose(f);
    }
    std::string content(const char* name)
    {
        FILE* f = _wfopen((folder / name).c_str(), L"rb");
        std::string data;
        char buffer[4096];
        for (std::size_t n; (n = fread(buffer, 1, sizeof buffer, f)) > 0;)
            data.append(buffer, n);
        fclose(f);
        return data;
    }
    std::vector<std::string> names()
    {
        std::vector<std::string> found;
        for (const auto& entry : fs::directory_iterator(folder))
            found.push_back(entry.path().filename().string());
        std::sort(found.begin(), found.end());
        return found;
    }

    std::wstring saved_tmp;
    fs::path folder;
};

TEST_F(report_files, takes_the_smallest_free_number)
{
    touch("0.bxo");
    touch("1.bxo");
    save_report_files(false);
    EXPECT_EQ(names(), (std::vector<std::string>{"0.bxo", "1.bxo", "2.bxo", "2.bxr"}));
    EXPECT_EQ(fs::path(report_path()).filename(), "2.bxr");
    EXPECT_FALSE(report_reader::parse_report(report_reader::inflate_report(content("2.bxo"))).detailed);
    EXPECT_TRUE(report_reader::parse_report(report_reader::inflate_report(content("2.bxr"))).detailed);
    EXPECT_EQ(content("0.bxo"), "old");
}

TEST_F(report_files, replaces_a_leftover_companion_file)
{
    touch("0.bxr", std::string(10000, 'x'));
    save_report_files(false);
    EXPECT_EQ(names(), (std::vector<std::string>{"0.bxo", "0.bxr"}));
    EXPECT_TRUE(report_reader::parse_report(report_reader::inflate_report(content("0.bxr"))).detailed);
}

TEST_F(report_files, missing_folder_fails_without_files)
{
    use_temp(folder / "missing");
    try {
        save_report_files(false);
        ADD_FAILURE() << "no exception";
    } catch (const wembra::win_runtime_error& e) {
        EXPECT_EQ(e.number, DWORD(ERROR_PATH_NOT_FOUND));
        EXPECT_EQ(std::string(e.what()).rfind("Napaka pri ustvarjanju datoteke BXO: ", 0), 0u) << e.what();
    }
    EXPECT_TRUE(names().empty());
}

// With no crash worker, the faulting thread writes both files itself, and
// its heap may be what failed.
TEST_F(report_files, writing_both_files_allocates_nothing_on_the_faulting_thread)
{
    counted_allocations = 0;
    counting_allocations = true;
    save_report_files(true);
    counting_allocations = false;
    EXPECT_EQ(counted_allocations, 0u);
    EXPECT_EQ(names(), (std::vector<std::string>{"0.bxo", "0.bxr"}));
    EXPECT_TRUE(report_reader::parse_report(report_reader::inflate_report(content("0.bxr"))).detailed);
}

TEST(zlib_arena, holds_a_level_9_compressor_or_fails_it_cleanly)
{
    const std::string text(100000, 'x');
    zlib_arena roomy(280 * 1024);
    fenrix::stream::memory_file body;
    {
        fenrix::zlib_writer writer(body, 9, 4096, roomy.take(4096));
        EXPECT_EQ(writer.write(text.data(), text.size()), text.size());
    }
    EXPECT_GT(roomy.used(), 256u * 1024) << "zlib's state came from the arena";
    EXPECT_LE(roomy.used(), roomy.size());
    EXPECT_EQ(read_back(body), text);

    zlib_arena small(64 * 1024);
    fenrix::stream::memory_file other;
    EXPECT_THROW(fenrix::zlib_writer(other, 9, 4096, small.take(4096)), std::bad_alloc);
    EXPECT_THROW(small.take(64 * 1024 + 1), std::bad_alloc);
}

// The crash worker walks the faulting thread's stack: the handle it is given
// must name that thread on the worker too, as GetCurrentThread() would not.
TEST(crash_thread, handle_names_the_faulting_thread_on_every_thread)
{
    crash_reporter& r = reporter();
    DWORD faulting = 0;
    std::uintptr_t local = 0;
    std::thread([&] {
        int on_stack = 0;
        local = reinterpret_cast<std::uintptr_t>(&on_stack);
        faulting = GetCurrentThreadId();
        take_crash_thread(r);
    }).join();
    ASSERT_TRUE(r.crash_thread_handle);
    EXPECT_NE(faulting, GetCurrentThreadId());
    EXPECT_EQ(GetThreadId(r.crash_thread_handle.get()), faulting);
    EXPECT_LE(r.crash_stack_low, local);
    EXPECT_GT(r.crash_stack_high, local);
    r.crash_thread_handle.attach(nullptr);
}

TEST(module_file_name, bare_names_of_loaded_modules)
{
    std::wstring name;
    module_file_name(GetModuleHandleW(L"kernel32.dll"), name);
    EXPECT_EQ(_wcsicmp(name.c_str(), L"kernel32.dll"), 0) << std::string(name.begin(), name.end());
    EXPECT_THROW(module_file_name(reinterpret_cast<HMODULE>(0x10), name), wembra::win_runtime_error);
}

TEST(trace_log, keeps_the_last_ten_lines)
{
    crash_reporter& r = reporter();
    r.trace_log.clear();
    for (int i = 0; i < 11; ++i) {
        const std::wstring line = L"korak " + std::to_wstring(i);
        add_trace(line.c_str(), line.size());
    }
    ASSERT_EQ(r.trace_log.size(), 10u);
    EXPECT_STREQ(r.trace_log.front().get(), L"korak 1");
    EXPECT_STREQ(r.trace_log.back().get(), L"korak 10");
    r.trace_log.clear();
}

// The crash path copies the lines into the snapshot on the faulting thread;
// adding a line keeps room for all of them, so that copy allocates nothing.
TEST(trace_log, snapshot_room_kept_for_every_line)
{
    crash_reporter& r = reporter();
    r.trace_log.clear();
    std::vector<wchar_t>().swap(r.trace_snapshot);
    for (int i = 0; i < 14; ++i) {
        const std::wstring line(std::size_t(i * 37 % 50), wchar_t(L'a' + i));
        add_trace(line.c_str(), line.size());
        std::size_t needed = 0;
        for (const auto& kept : r.trace_log)
            needed += std::wcslen(kept.get()) + 1;
        EXPECT_GE(r.trace_snapshot.capacity(), needed) << "after line " << i;
    }
    r.trace_log.clear();
}

TEST(trace_log, converts_from_code_pages_and_stops_at_zero_or_length)
{
    crash_reporter& r = reporter();
    r.trace_log.clear();
    add_trace("\xC4\x8D"
              "ebula",
              100, CP_UTF8);
    add_trace("\x9A"
              "ola\0skrito",
              100, 1250);
    add_trace(L"dolga vrstica", 5);
    add_trace("", 0, 1250);
    ASSERT_EQ(r.trace_log.size(), 4u);
    EXPECT_STREQ(r.trace_log[0].get(), L"\u010Debula");
    EXPECT_STREQ(r.trace_log[1].get(), L"\u0161ola");
    EXPECT_STREQ(r.trace_log[2].get(), L"dolga");
    EXPECT_STREQ(r.trace_log[3].get(), L"");
    r.trace_log.clear();
}

TEST(exception_guards, thrown_objects_end_the_call_quietly)
{
    EXPECT_FALSE(run_quietly([] { throw 7; }));
    EXPECT_FALSE(run_contained([] { throw std::runtime_error("x"); }));
    EXPECT_TRUE(run_quietly([] {}));
    EXPECT_EQ(run_guarded([] { return 42; }), 42);
}

// A thrown object passes run_guarded's frame to whoever catches it (on x64 it
// travels as a system exception that the guard's handler sees first).
TEST(exception_guards, thrown_objects_pass_run_guarded)
{
    try {
        run_guarded([] { throw 7; });
        ADD_FAILURE() << "nothing thrown";
    } catch (int value) {
        EXPECT_EQ(value, 7);
    }
}

volatile int* volatile no_memory = nullptr;
volatile bool quiet_thread_went_on = false;

DWORD WINAPI fault_quietly(void*)
{
    run_quietly([] { *no_memory = 1; });
    quiet_thread_went_on = true;
    return 5;
}

// A system exception inside run_quietly ends its thread at once, with exit
// code 0; were the guard's handler not in place, the reporter's filter would
// end this test process as a crash.
TEST(exception_guards, access_violation_ends_a_quiet_thread)
{
    HANDLE thread = CreateThread(nullptr, 0, fault_quietly, nullptr, 0, nullptr);
    ASSERT_TRUE(thread);
    ASSERT_EQ(WaitForSingleObject(thread, 30000), WAIT_OBJECT_0);
    DWORD code = 1;
    GetExitCodeThread(thread, &code);
    CloseHandle(thread);
    EXPECT_EQ(code, 0u);
    EXPECT_FALSE(quiet_thread_went_on);
}

TEST(installation, filter_in_force_in_the_executable)
{
    ASSERT_TRUE(enabled());
    LPTOP_LEVEL_EXCEPTION_FILTER current = SetUnhandledExceptionFilter(nullptr);
    SetUnhandledExceptionFilter(current);
    EXPECT_EQ(current, &unhandled_exception_filter);
    EXPECT_EQ(reporter().sym_mutex_name, L"TeskSymInitialize-" + std::to_wstring(GetCurrentProcessId()));
}

}  // namespace
