#include "update/partial_package.hpp"

#include <windows.h>

#include <system_error>

#include "win/error.hpp"

namespace fenrix {

namespace {

constexpr int partial_mode = stream::mode_read | stream::mode_write | stream::mode_open_always |
    stream::mode_share_read | stream::mode_sequential;

void delete_file(const std::wstring& path) noexcept
{
    DeleteFileW(path.c_str());  // one that is not there is what was wanted
}

[[noreturn]] void throw_last_error(const char* text)
{
    throw std::system_error(int(GetLastError()), std::system_category(), text);
}

}  // namespace

partial_package::partial_package(std::wstring package_path, stream::file& package)
    : package_name(std::move(package_path)), partial_name(package_name + L".partial"),
      record_name(partial_name + L".record"), package(package)
{
}

partial_package::~partial_package() = default;

stream::basic_file& partial_package::partial()
{
    if (!file.is_open()) {
        file.open(partial_name.c_str(), partial_mode);
        if (!file.is_open())
            throw_last_error("Failed to open file");
    }
    return file;
}

std::optional<resume_record> partial_package::load_record()
{
    stream::file record(record_name.c_str(), stream::mode_read | stream::mode_open_existing | stream::mode_share_read);
    if (!record.is_open())
        return std::nullopt;
    // One byte beyond the bound tells a record that is too long.
    std::string bytes(max_resume_record_size + 1, '\0');
    const std::size_t n = record.read_array(bytes.data(), 1, bytes.size());
    const bool read_fully = record.state != stream::fail;
    record.close();
    bytes.resize(n);
    std::optional<resume_record> parsed = read_fully ? read_resume_record(bytes) : std::nullopt;
    if (!parsed)
        delete_file(record_name);
    return parsed;
}

void partial_package::save_record(const resume_record& record)
{
    // Written beside and renamed over the old one: a crash leaves the old
    // record or the new one, and a record cut short fails its own check.
    const std::string bytes = resume_record_bytes(record);
    const std::wstring fresh_name = record_name + L".new";
    {
        stream::file fresh(fresh_name.c_str(), stream::mode_write | stream::mode_create_always);
        if (!fresh.is_open())
            throw_last_error("Failed to write the resume record");
        fresh.write(bytes.data(), bytes.size());
        if (fresh.state == stream::ok)
            fresh.flush();
        if (fresh.state != stream::ok) {
            const DWORD code = GetLastError();
            fresh.close();
            delete_file(fresh_name);
            throw std::system_error(int(code), std::system_category(), "Failed to write the resume record");
        }
        fresh.close();
    }
    if (!MoveFileExW(fresh_name.c_str(), record_name.c_str(), MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH)) {
        const DWORD code = GetLastError();
        delete_file(fresh_name);
        throw std::system_error(int(code), std::system_category(), "Failed to write the resume record");
    }
}

void partial_package::forget_record()
{
    delete_file(record_name);
}

void partial_package::promote()
{
    package.close();
    file.close();
    if (!MoveFileExW(partial_name.c_str(), package_name.c_str(), MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH))
        throw wembra::win_runtime_error("Failed to rename the verified package");
    forget_record();
}

void partial_package::tidy() noexcept
{
    if (!file.is_open()) {
        file.open(partial_name.c_str(), stream::mode_read | stream::mode_open_existing | stream::mode_share_read);
        if (!file.is_open())
            return;
    }
    const bool empty = file.size() == 0;
    file.close();
    if (empty) {
        delete_file(record_name);
        delete_file(partial_name);
    }
}

void partial_package::remove() noexcept
{
    file.close();
    delete_file(record_name);
    delete_file(partial_name);
}

}  // namespace fenrix
