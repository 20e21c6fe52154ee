#include "crashreport/stored_files.hpp"

#include <windows.h>

#include <cwchar>
#include <map>
#include <system_error>

#include "base/locale.hpp"
#include "crashreport/report_check.hpp"
#include "stream/file.hpp"
#include "win/file_removal.hpp"
#include "win/format.hpp"
#include "win/handle.hpp"

namespace brindlex::stored {

namespace {

constexpr int mode_stored_report = fenrix::stream::mode_read | fenrix::stream::mode_open_existing |
    fenrix::stream::mode_share_read | fenrix::stream::mode_sequential;
constexpr int mode_record_read =
    fenrix::stream::mode_read | fenrix::stream::mode_open_existing | fenrix::stream::mode_share_read;
// Written in place at its start: the record is one short write of a fixed
// size, so a sender that dies meanwhile leaves the old record or the new one.
constexpr int mode_record_write = fenrix::stream::mode_write | fenrix::stream::mode_open_always;

struct found_files {
    std::wstring stem;
    bool bxo = false;
    bool bxr = false;
    bool bxp = false;
    std::uint64_t bxo_size = 0;
    std::uint64_t bxo_written = 0;
};

std::uint64_t join(DWORD high, DWORD low)
{
    return std::uint64_t(high) << 32 | low;
}

bool has_extension(const wchar_t* extension, const wchar_t* wanted)
{
    return _wcsicmp(extension, wanted) == 0;
}

// Keyed without regard to case, as the file system names them.
std::wstring key_of(std::wstring stem)
{
    CharLowerBuffW(stem.data(), DWORD(stem.size()));
    return stem;
}

bool exists(const std::wstring& path)
{
    return GetFileAttributesW(path.c_str()) != INVALID_FILE_ATTRIBUTES || GetLastError() != ERROR_FILE_NOT_FOUND;
}

attempt_record read_record(const std::wstring& path, const found_files& files)
{
    attempt_record fresh;
    fresh.bxo_size = files.bxo_size;
    fresh.bxo_written = files.bxo_written;
    if (!files.bxp)
        return fresh;
    fenrix::stream::file file(path, mode_record_read);
    unsigned char bytes[attempt_record_size];
    const std::size_t got = file.state == fenrix::stream::ok ? file.read(bytes, sizeof bytes) : 0;
    const std::optional<attempt_record> record = decode(bytes, got);
    if (!record || record->bxo_size != files.bxo_size || record->bxo_written != files.bxo_written)
        return fresh;
    return *record;
}

// An attempt record or a .bxr report whose .bxo report is gone. The search
// may have missed a .bxo report written while it ran, so its absence is
// checked again; a pair's .bxo report is always written before its .bxr
// report and removed after it.
void remove_orphans(const found_files& files)
{
    if (files.bxo || (!files.bxr && !files.bxp) || exists(files.stem + L".bxo"))
        return;
    // One that cannot be removed now is tried again at the next start.
    if (files.bxr)
        DeleteFileW((files.stem + L".bxr").c_str());
    if (files.bxp)
        DeleteFileW((files.stem + L".bxp").c_str());
}

}  // namespace

std::vector<stored_pair> list_pairs(const std::wstring& folder)
{
    std::map<std::wstring, found_files> found;
    WIN32_FIND_DATAW entry;
    wembra::find_file search(
        FindFirstFileExW((folder + L"*.bx?").c_str(), FindExInfoBasic, &entry, FindExSearchNameMatch, nullptr, 0));
    if (search) {
        do {
            if (entry.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY)
                continue;
            const std::wstring name(entry.cFileName, wcsnlen(entry.cFileName, MAX_PATH));
            const std::size_t dot = name.rfind(L'.');
            if (dot == std::wstring::npos || dot == 0)
                continue;
            const wchar_t* extension = name.c_str() + dot + 1;
            const bool bxo = has_extension(extension, L"bxo");
            const bool bxr = has_extension(extension, L"bxr");
            const bool bxp = has_extension(extension, L"bxp");
            if (!bxo && !bxr && !bxp)
                continue;
            const std::wstring stem = name.substr(0, dot);
            found_files& files = found[key_of(stem)];
            files.stem = folder + stem;
            if (bxo) {
                files.bxo = true;
                files.bxo_size = join(entry.nFileSizeHigh, entry.nFileSizeLow);
                files.bxo_written = join(entry.ftLastWriteTime.dwHighDateTime, entry.ftLastWriteTime.dwLowDateTime);
            }
            files.bxr = files.bxr || bxr;
            files.bxp = files.bxp || bxp;
        } while (FindNextFileW(search.get(), &entry));
    }

    std::vector<stored_pair> pairs;
    for (const auto& [key, files] : found) {
        if (!files.bxo) {
            remove_orphans(files);
            continue;
        }
        stored_pair pair;
        pair.stem = files.stem;
        pair.bxo_size = files.bxo_size;
        pair.bxo_written = files.bxo_written;
        pair.has_bxr = files.bxr;
        pair.record = read_record(files.stem + L".bxp", files);
        pairs.push_back(std::move(pair));
    }
    return pairs;
}

void write_record(const stored_pair& pair)
{
    unsigned char bytes[attempt_record_size];
    encode(pair.record, bytes);
    fenrix::stream::file file(pair.stem + L".bxp", mode_record_write);
    if (file.state == fenrix::stream::ok)
        file.write(bytes, sizeof bytes);
    const bool written = file.state == fenrix::stream::ok;
    const DWORD error = GetLastError();
    file.close();
    if (!written)
        throw std::system_error(int(error), std::system_category(), "failed to write the attempt record");
}

bool load_report(const std::wstring& path, fenrix::stream::memory_file& into)
{
    fenrix::stream::file file(path, mode_stored_report);
    if (file.state != fenrix::stream::ok) {
        const DWORD error = GetLastError();
        throw std::system_error(
            int(error), std::system_category(),
            wembra::format("Odpiranje datoteke s poročilom o napaki %ls ni uspelo", fenrix::utf8_locale, path.c_str()));
    }
    into.seek(0);
    into.truncate();
    const std::uint64_t size = file.size();
    if (size > max_report_size)
        return false;
    into.reserve(std::size_t(size));
    into.write_stream(file, max_report_size + 1);
    if (file.state == fenrix::stream::fail || into.state != fenrix::stream::ok) {
        const DWORD error = GetLastError();
        throw std::system_error(int(error), std::system_category(), "failed to read the report");
    }
    into.seek(0);
    return into.size() <= max_report_size;
}

void remove_pair(const stored_pair& pair)
{
    for (const wchar_t* extension : {L".bxr", L".bxo", L".bxp"})
        wembra::remove_file(pair.stem + extension);
}

}  // namespace brindlex::stored
