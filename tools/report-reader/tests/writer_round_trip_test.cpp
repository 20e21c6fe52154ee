// The report writer and the trace log inside one process: crash-time state is
// set up by hand from a captured context, and the reports are read back with
// the report reader.
#include <windows.h>

#include <gtest/gtest.h>

#include <cstring>
#include <filesystem>
#include <string>
#include <vector>

#include "crashreport/crash_reporter.hpp"
#include "crashreport/exception_guard.hpp"
#include "crashreport/report_format.hpp"
#include "crashreport/report_writer.hpp"
#include "crashreport/reporter_state.hpp"
#include "stream/memory_file.hpp"
#include "tools/report-reader/report.hpp"
#include "win/error.hpp"

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
// here instead of at a fault.
class crash_state : public ::testing::Test {
protected:
    void SetUp() override
    {
        capture();
        record = {};
        record.ExceptionCode = EXCEPTION_ACCESS_VIOLATION;
        record.ExceptionAddress = reinterpret_cast<void*>(std::uintptr_t(context.Eip));
        record.NumberParameters = 2;
        record.ExceptionInformation[0] = 1;
        record.ExceptionInformation[1] = 0x10;
        pointers = {&record, &context};
        crash_reporter& r = reporter();
        r.exception_pointers = &pointers;
        r.crash_process_handle = GetCurrentProcess();
        r.crash_thread_handle = GetCurrentThread();
        const NT_TIB* tib;
        asm("movl %%fs:0x18, %0" : "=r"(tib));
        r.crash_stack_low = reinterpret_cast<ULONG_PTR>(tib->StackLimit);
        r.crash_stack_high = reinterpret_cast<ULONG_PTR>(tib->StackBase);
        r.trace_snapshot.clear();
    }

    void TearDown() override
    {
        reporter().exception_pointers = nullptr;
        reporter().trace_snapshot.clear();
    }

    __attribute__((noinline)) void capture() { RtlCaptureContext(&context); }

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
    EXPECT_EQ(r.exceptions[0].address, context.Eip);
    EXPECT_EQ(r.exceptions[0].parameters, (std::vector<std::uint32_t>{1, 0x10}));
    EXPECT_FALSE(r.context);
    EXPECT_TRUE(r.trace.empty()) << "an empty trace log gives no trace section, even when asked for";
    ASSERT_FALSE(r.frames.empty());
    std::wstring program;
    module_file_name(nullptr, program);
    EXPECT_EQ(r.modules[0].name, as_u16(program)) << "the bare file name of the executable";
    EXPECT_EQ(r.modules[0].base, reinterpret_cast<std::uintptr_t>(GetModuleHandleW(nullptr)));
    EXPECT_EQ(r.frames[0].offset, context.Eip - r.modules[0].base);
    for (const auto& m : r.modules)
        EXPECT_FALSE(m.checksum);
    for (const auto& f : r.frames)
        EXPECT_FALSE(f.snapshot);
}

TEST_F(crash_state, detailed_report_adds_chain_context_checksums_and_snapshots)
{
    EXCEPTION_RECORD inner{};
    inner.ExceptionCode = EXCEPTION_INT_DIVIDE_BY_ZERO;
    record.ExceptionRecord = &inner;
    const report_reader::report r = write_and_read(format::bxr, false);
    EXPECT_TRUE(r.detailed);
    ASSERT_EQ(r.exceptions.size(), 2u);
    EXPECT_EQ(r.exceptions[1].code, 0xC0000094u);
    ASSERT_TRUE(r.context);
    EXPECT_EQ(r.context->flags, context.ContextFlags);
    EXPECT_EQ(r.context->registers.size(), 30u) << "the architecture bit makes every group present";
    EXPECT_EQ(r.context->registers[10].second, context.Eip);
    for (const auto& m : r.modules)
        EXPECT_TRUE(m.checksum);
    ASSERT_TRUE(r.frames[0].snapshot);
    EXPECT_EQ(r.frames[0].snapshot->address, context.Esp);
}

// One register group at a time (its group bit without the architecture bit,
// which would make every group present): the writer picks the group by its
// named flag and writes that group's registers, nothing else.
TEST_F(crash_state, each_named_context_group_alone)
{
    struct group_case {
        std::uint32_t flag;
        const char* first_register;
        std::uint32_t first_value;
        std::size_t registers;
        std::size_t areas;
    };
    const group_case cases[] = {
        {format::context_integer, "eax", context.Eax, 6, 0},
        {format::context_control, "ss", context.SegSs, 6, 0},
        {format::context_segments, "ds", context.SegDs, 4, 0},
        {format::context_floating_point, "fpu control", context.FloatSave.ControlWord, 8, 1},
        {format::context_extended_registers, nullptr, 0, 0, 1},
        {format::context_debug_registers, "dr0", context.Dr0, 6, 0},
    };
    for (const group_case& c : cases) {
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
    context.Ebp = context.Esp + 0x4000000;
    const report_reader::report r = write_and_read(format::bxr, false);
    ASSERT_FALSE(r.frames.empty());
    if (r.frames[0].snapshot) {
        EXPECT_LE(r.frames[0].snapshot->bytes.size(), reporter().crash_stack_high - context.Esp);
    }
}

TEST_F(crash_state, snapshot_stops_at_the_end_of_the_stack)
{
    ASSERT_GT(context.Ebp, context.Esp + 4);
    reporter().crash_stack_high = context.Esp + 4;
    const report_reader::report r = write_and_read(format::bxr, false);
    ASSERT_FALSE(r.frames.empty());
    ASSERT_TRUE(r.frames[0].snapshot);
    EXPECT_EQ(r.frames[0].snapshot->bytes.size(), 4u);
}

TEST_F(crash_state, snapshot_of_a_stack_pointer_outside_the_stack_is_empty)
{
    static char elsewhere[4096];
    context.Esp = DWORD(reinterpret_cast<std::uintptr_t>(elsewhere));
    context.Ebp = context.Esp + 64;
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

TEST(installation, filter_in_force_in_the_executable)
{
    ASSERT_TRUE(enabled());
    LPTOP_LEVEL_EXCEPTION_FILTER current = SetUnhandledExceptionFilter(nullptr);
    SetUnhandledExceptionFilter(current);
    EXPECT_EQ(current, &unhandled_exception_filter);
    EXPECT_EQ(reporter().sym_mutex_name, L"TeskSymInitialize-" + std::to_wstring(GetCurrentProcessId()));
}

}  // namespace
