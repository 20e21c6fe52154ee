// Serialising a crash into a report (.bxo: exception, trace lines and the
// call stack as module-relative addresses; .bxr: the whole exception chain,
// the processor context, module checksums and each frame's stack memory),
// and storing both reports as n.bxo and n.bxr in the temporary folder.
#pragma once

#include <windows.h>

#include <string>

#include "crashreport/report_format.hpp"
#include "stream/basic.hpp"

namespace brindlex {

// Writes one report of `kind` (format::bxo or format::bxr) as a zlib stream into `stream`
// from its current position. Needs the crash-time state of the reporter.
void write_report(format::report_kind kind, bool include_trace, fenrix::stream::basic& stream);

// Writes n.bxo and n.bxr with the smallest n for which no n.bxo exists.
// Throws wembra::win_runtime_error ("GetTempPath failed", "Napaka pri
// ustvarjanju datoteke BXO" / "... BXR") and what write_report throws.
void save_report_files(bool include_trace);

// The path of the last file save_report_files wrote (the .bxr report).
const std::wstring& report_path();

// The file name without directory of the module loaded at `module` (null:
// the executable). Throws wembra::win_runtime_error "GetModuleFileNameW failed".
void module_file_name(HMODULE module, std::wstring& name);

// The temporary folder with its trailing backslash; throws
// wembra::win_runtime_error "GetTempPath failed".
void temp_folder(std::wstring& path);

// Reserves the buffers the crash path fills, at start-up.
void reserve_report_buffers();

}  // namespace brindlex
