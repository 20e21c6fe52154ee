#include "crashreport/native_context.hpp"

#include <dbghelp.h>

#include <cstdint>
#include <initializer_list>

#ifndef _WIN64
#include <unwind.h>
#endif

extern "C" void __cxa_throw(void*, void*, void (*)(void*));
extern "C" void __cxa_rethrow();

namespace brindlex {

namespace {

context_group_values values_of(std::initializer_list<std::uint64_t> registers, const void* area = nullptr)
{
    context_group_values values;
    for (std::uint64_t value : registers)
        values.registers[values.count++] = value;
    values.area = area;
    return values;
}

bool is_throw_function(std::uintptr_t start)
{
    return start == reinterpret_cast<std::uintptr_t>(&__cxa_throw) ||
        start == reinterpret_cast<std::uintptr_t>(&__cxa_rethrow);
}

}  // namespace

#ifdef _WIN64

const format::machine_layout& native_layout()
{
    return format::layout_amd64;
}

context_group_values group_values(const CONTEXT& c, const format::context_group& group)
{
    static_assert(sizeof c.FltSave == 512);
    switch (group.flag) {
    case format::amd64_context_integer:
        return values_of(
            {c.Rax, c.Rcx, c.Rdx, c.Rbx, c.Rbp, c.Rsi, c.Rdi, c.R8, c.R9, c.R10, c.R11, c.R12, c.R13, c.R14, c.R15});
    case format::amd64_context_control:
        return values_of({c.SegSs, c.Rsp, c.SegCs, c.Rip, c.EFlags});
    case format::amd64_context_segments:
        return values_of({c.SegDs, c.SegEs, c.SegFs, c.SegGs});
    case format::amd64_context_floating_point:
        return values_of({c.MxCsr}, &c.FltSave);
    case format::amd64_context_debug_registers:
        return values_of({c.Dr0, c.Dr1, c.Dr2, c.Dr3, c.Dr6, c.Dr7});
    default:
        return {};
    }
}

walk_start walk_start_of(const CONTEXT& c)
{
    return {c.Rip, c.Rbp, c.Rsp};
}

const NT_TIB& current_thread_block()
{
    const NT_TIB* self;
    asm("movq %%gs:0x30, %0" : "=r"(self));
    return *self;
}

PVOID CALLBACK walk_function_table(HANDLE process, DWORD64 address)
{
    if (PVOID entry = SymFunctionTableAccess64(process, address))
        return entry;
    DWORD64 image_base = 0;
    return RtlLookupFunctionEntry(address, &image_base, nullptr);
}

DWORD64 CALLBACK walk_module_base(HANDLE process, DWORD64 address)
{
    if (DWORD64 base = SymGetModuleBase64(process, address))
        return base;
    DWORD64 image_base = 0;
    return RtlLookupFunctionEntry(address, &image_base, nullptr) ? image_base : 0;
}

void set_walk_start(CONTEXT& c, const walk_start& start)
{
    c.Rip = start.pc;
    c.Rbp = start.frame;
    c.Rsp = start.stack;
}

// GCC's unwinder on x64 is the system's (SEH): the frames are walked back
// with their unwind data, which restores every register the thrower had at
// its call, not only the three a frame-pointer walk would know.
__attribute__((noinline)) bool capture_throw_site(CONTEXT& context)
{
    RtlCaptureContext(&context);
    // Bounded: the C++ runtime's frames lie a few calls below the handler.
    for (int depth = 0; depth < 256 && context.Rip != 0; ++depth) {
        DWORD64 image_base = 0;
        RUNTIME_FUNCTION* function = RtlLookupFunctionEntry(context.Rip, &image_base, nullptr);
        if (!function)
            break;
        const std::uintptr_t start = std::uintptr_t(image_base + function->BeginAddress);
        void* handler_data = nullptr;
        DWORD64 establisher = 0;
        RtlVirtualUnwind(UNW_FLAG_NHANDLER, image_base, context.Rip, function, &context, &handler_data, &establisher,
                         nullptr);
        if (is_throw_function(start)) {
            context.Rip -= 1;
            return true;
        }
    }
    RtlCaptureContext(&context);
    return false;
}

#else

const format::machine_layout& native_layout()
{
    return format::layout_i386;
}

context_group_values group_values(const CONTEXT& c, const format::context_group& group)
{
    const FLOATING_SAVE_AREA& f = c.FloatSave;
    switch (group.flag) {
    case format::context_integer:
        return values_of({c.Eax, c.Ebx, c.Ecx, c.Edx, c.Esi, c.Edi});
    case format::context_control:
        return values_of({c.SegSs, c.Esp, c.Ebp, c.SegCs, c.Eip, c.EFlags});
    case format::context_segments:
        return values_of({c.SegDs, c.SegEs, c.SegFs, c.SegGs});
    case format::context_floating_point:
        return values_of({f.ControlWord, f.StatusWord, f.TagWord, f.ErrorOffset, f.ErrorSelector, f.DataOffset,
                          f.DataSelector, f.Cr0NpxState},
                         f.RegisterArea);
    case format::context_extended_registers:
        return values_of({}, c.ExtendedRegisters);
    case format::context_debug_registers:
        return values_of({c.Dr0, c.Dr1, c.Dr2, c.Dr3, c.Dr6, c.Dr7});
    default:
        return {};
    }
}

walk_start walk_start_of(const CONTEXT& c)
{
    return {c.Eip, c.Ebp, c.Esp};
}

const NT_TIB& current_thread_block()
{
    const NT_TIB* self;
    asm("movl %%fs:0x18, %0" : "=r"(self));
    return *self;
}

// An i386 walk follows the frame pointers where the symbol handler knows
// nothing.
PVOID CALLBACK walk_function_table(HANDLE process, DWORD64 address)
{
    return SymFunctionTableAccess64(process, address);
}

DWORD64 CALLBACK walk_module_base(HANDLE process, DWORD64 address)
{
    return SymGetModuleBase64(process, address);
}

void set_walk_start(CONTEXT& c, const walk_start& start)
{
    c.Eip = DWORD(start.pc);
    c.Ebp = DWORD(start.frame);
    c.Esp = DWORD(start.stack);
}

namespace {

// Where the throwing function called into the C++ runtime.
struct throw_site {
    std::uintptr_t return_address = 0;
    std::uintptr_t stack_pointer = 0;
    std::uintptr_t frame_pointer = 0;
    bool next_is_thrower = false;
    bool found = false;
};

constexpr int dwarf_ebp = 5;

_Unwind_Reason_Code find_thrower(_Unwind_Context* context, void* argument)
{
    auto* site = static_cast<throw_site*>(argument);
    if (site->next_is_thrower) {
        site->return_address = _Unwind_GetIP(context);
        site->frame_pointer = _Unwind_GetGR(context, dwarf_ebp);
        site->found = true;
        return _URC_END_OF_STACK;
    }
    if (is_throw_function(_Unwind_GetRegionStart(context))) {
        // The caller's stack pointer after the call is this frame's CFA.
        site->stack_pointer = _Unwind_GetCFA(context);
        site->next_is_thrower = true;
    }
    return _URC_NO_REASON;
}

}  // namespace

// GCC's unwinder on i386 reads DWARF call frame information, which knows the
// thrower's return address, stack pointer and frame pointer.
bool capture_throw_site(CONTEXT& context)
{
    RtlCaptureContext(&context);
    throw_site site;
    _Unwind_Backtrace(find_thrower, &site);
    if (!site.found)
        return false;
    context.Eip = DWORD(site.return_address - 1);
    context.Esp = DWORD(site.stack_pointer);
    context.Ebp = DWORD(site.frame_pointer);
    return true;
}

#endif

}  // namespace brindlex
