#include "base/platform.hpp"

#include <windows.h>

extern "C" NTSYSAPI VOID NTAPI RtlGetNtVersionNumbers(LPDWORD major, LPDWORD minor, LPDWORD build);

namespace fenrix {

namespace {

// GetVersionEx lies to programs without a compatibility manifest entry for
// the newest systems; ntdll reports the real numbers.
const char* detect_os_name()
{
    DWORD major = 0, minor = 0, build = 0;
    RtlGetNtVersionNumbers(&major, &minor, &build);
    return os_name_for_version(major, minor, build);
}

using is_wow64_process2_t = BOOL(WINAPI*)(HANDLE, USHORT*, USHORT*);

}  // namespace

const char* os_name = detect_os_name();

const char* os_name_for_version(std::uint32_t major, std::uint32_t minor, std::uint32_t build)
{
    build &= 0xFFFF;
    if (major > 10 || (major == 10 && build >= 22000))
        return "win11";
    if (major > 6)
        return "win10";
    if (major == 6 && minor >= 3)
        return "win8_1";
    if (major == 6 && minor == 2)
        return "win8";
    if (major == 6 && minor == 1)
        return build >= 7601 ? "win7sp1" : "win7";
    return nullptr;
}

const char* architecture_suffix_for_machine(std::uint16_t machine)
{
    switch (machine) {
    case IMAGE_FILE_MACHINE_I386:
        return ".Win32";
    case IMAGE_FILE_MACHINE_AMD64:
        return ".x64";
    case 0xAA64:  // IMAGE_FILE_MACHINE_ARM64
        return ".ARM64";
    default:
        return nullptr;
    }
}

const char* architecture_suffix()
{
    // IsWow64Process2 (Windows 10 1511 and later) is the only call that names
    // an Arm64 host to an x86 process; older systems only tell WOW64 or not.
    if (HMODULE kernel32 = GetModuleHandleW(L"kernel32.dll")) {
        // Through a plain function pointer type: FARPROC has no parameters.
        auto is_wow64_process2 = reinterpret_cast<is_wow64_process2_t>(
            reinterpret_cast<void (*)()>(GetProcAddress(kernel32, "IsWow64Process2")));
        USHORT process_machine = 0, native_machine = 0;
        if (is_wow64_process2 && is_wow64_process2(GetCurrentProcess(), &process_machine, &native_machine))
            return architecture_suffix_for_machine(native_machine);
    }
#ifdef _WIN64
    // Before Windows 10 a 64-bit program ran on x64 Windows alone.
    return architecture_suffix_for_machine(IMAGE_FILE_MACHINE_AMD64);
#else
    BOOL wow64 = FALSE;
    if (!IsWow64Process(GetCurrentProcess(), &wow64))
        return nullptr;
    return architecture_suffix_for_machine(wow64 ? IMAGE_FILE_MACHINE_AMD64 : IMAGE_FILE_MACHINE_I386);
#endif
}

}  // namespace fenrix
