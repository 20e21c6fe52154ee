// Names this machine in the update server's terms: the Windows version name
// that selects the package descriptor, and the architecture suffix that
// selects the package.
#pragma once

#include <cstdint>

namespace fenrix {

// "win11", "win10", "win8_1", "win8", "win7sp1", "win7", or null for a
// version without a name (Vista and older). Set by a static initialiser
// before the entry point and only read afterwards.
extern const char* os_name;

// The name for an NT version; only the low 16 bits of the build take part
// (the high bits carry flags).
const char* os_name_for_version(std::uint32_t major, std::uint32_t minor, std::uint32_t build);

// ".Win32", ".x64" or ".ARM64" for an IMAGE_FILE_MACHINE_* value, null for
// any other machine.
const char* architecture_suffix_for_machine(std::uint16_t machine);

// The suffix of the machine this process runs on (the native machine, also
// for a 32-bit process under WOW64), or null when it is not recognised and
// the caller keeps its default.
const char* architecture_suffix();

}  // namespace fenrix
