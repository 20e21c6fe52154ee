#include "stream/file.hpp"

#include <algorithm>
#include <stdexcept>
#include <system_error>

namespace fenrix {

template <class Handle, class Traits>
basic_sys_object<Handle, Traits>::~basic_sys_object()
{
    close_handle();  // a destructor reports nothing
}

template <class Handle, class Traits>
bool basic_sys_object<Handle, Traits>::close_handle()
{
    if (handle == Traits::invalid())
        return true;
    if (CloseHandle(handle) || GetLastError() == ERROR_INVALID_HANDLE) {
        handle = Traits::invalid();
        return true;
    }
    return false;
}

template <class Handle, class Traits>
void basic_sys_object<Handle, Traits>::close()
{
    if (!close_handle())
        throw std::system_error(int(GetLastError()), std::system_category(), "CloseHandle failed");
}

template class basic_sys_object<void*, sys_object_traits>;

namespace stream {

namespace {

// Large single transfers can exhaust kernel resources; 63 MiB stays below
// the limits of every supported system.
constexpr std::size_t chunk_limit = 66060288;
constexpr DWORD small_chunk = 65536;

FILETIME to_file_time(time_point t)
{
    const std::uint64_t ticks = t.to_file_time();
    return {DWORD(ticks), DWORD(ticks >> 32)};
}

time_point from_file_time(const FILETIME& ft)
{
    return time_point::from_file_time((std::uint64_t(ft.dwHighDateTime) << 32) | ft.dwLowDateTime);
}

}  // namespace

std::size_t basic_sys::read(void* data, std::size_t length)
{
    auto* out = static_cast<unsigned char*>(data);
    std::size_t remaining = length;
    DWORD limit = chunk_limit;
    for (;;) {
        DWORD got = 0;
        const BOOL success = ReadFile(handle, out, DWORD(std::min<std::size_t>(limit, remaining)), &got, nullptr);
        if (!success && GetLastError() == ERROR_NO_SYSTEM_RESOURCES && limit > small_chunk) {
            limit = small_chunk;
            continue;
        }
        if (success && got > 0) {
            remaining -= got;
            out += got;
            if (remaining == 0) {
                state = ok;
                return length;
            }
            continue;
        }
        if (success)  // end of file
            state = remaining == length && length > 0 ? eof : ok;
        else
            state = remaining < length ? ok : fail;
        return length - remaining;
    }
}

std::size_t basic_sys::write(const void* data, std::size_t length)
{
    auto* in = static_cast<const unsigned char*>(data);
    std::size_t remaining = length;
    for (;;) {
        DWORD written = 0;
        const BOOL success =
            WriteFile(handle, in, DWORD(std::min<std::size_t>(chunk_limit, remaining)), &written, nullptr);
        remaining -= written;
        if (remaining == 0) {
            state = ok;
            return length;
        }
        in += written;
        if (!success || written == 0) {
            // A call that writes nothing without failing would loop forever.
            state = fail;
            return length - remaining;
        }
    }
}

void basic_sys::flush()
{
    state = FlushFileBuffers(handle) ? ok : fail;
}

void basic_sys::close()
{
    state = close_handle() ? ok : fail;
}

void file::open(const wchar_t* filename, int mode)
{
    static constexpr DWORD dispositions[] = {OPEN_EXISTING, TRUNCATE_EXISTING, OPEN_ALWAYS, CREATE_NEW, CREATE_ALWAYS};
    const int disposition = (mode & mode_disposition) >> 3;
    if (disposition >= int(std::size(dispositions)))
        throw std::invalid_argument("invalid mode");
    basic_sys::close();

    DWORD access = 0;
    if (mode & mode_read)
        access |= GENERIC_READ;
    if (mode & mode_write)
        access |= GENERIC_WRITE;
    if (mode & mode_write_attributes)
        access |= FILE_WRITE_ATTRIBUTES;
    DWORD share = 0;
    if (mode & mode_share_read)
        share |= FILE_SHARE_READ;
    if (mode & mode_share_write)
        share |= FILE_SHARE_WRITE;
    if (mode & mode_share_delete)
        share |= FILE_SHARE_DELETE;
    DWORD flags = FILE_ATTRIBUTE_NORMAL;
    if (mode & mode_write_through)
        flags |= FILE_FLAG_WRITE_THROUGH;
    if (mode & mode_no_buffering)
        flags |= FILE_FLAG_NO_BUFFERING;
    if (mode & mode_random_access)
        flags |= FILE_FLAG_RANDOM_ACCESS;
    if (mode & mode_sequential)
        flags |= FILE_FLAG_SEQUENTIAL_SCAN;
    SECURITY_ATTRIBUTES security{sizeof(SECURITY_ATTRIBUTES), nullptr, (mode & mode_inheritable) ? TRUE : FALSE};

    handle = CreateFileW(filename, access, share, &security, dispositions[disposition], flags, nullptr);
    if (handle == INVALID_HANDLE_VALUE) {
        state = fail;
        return;
    }
    state = ok;
    if (mode & mode_append)
        seek(0, end);
}

std::uint64_t file::seek(std::int64_t offset, seek_t how)
{
    LONG high = LONG(offset >> 32);
    SetLastError(NO_ERROR);
    const DWORD low = SetFilePointer(handle, LONG(offset), &high, DWORD(how));
    if (low == INVALID_SET_FILE_POINTER && GetLastError() != NO_ERROR) {
        state = fail;
        return npos;
    }
    state = ok;
    return (std::uint64_t(DWORD(high)) << 32) | low;
}

std::uint64_t file::tell()
{
    if (!is_open())
        return npos;
    LONG high = 0;
    SetLastError(NO_ERROR);
    const DWORD low = SetFilePointer(handle, 0, &high, FILE_CURRENT);
    if (low == INVALID_SET_FILE_POINTER && GetLastError() != NO_ERROR)
        return npos;
    return (std::uint64_t(DWORD(high)) << 32) | low;
}

void file::lock(std::uint64_t offset, std::uint64_t length)
{
    state = LockFile(handle, DWORD(offset), DWORD(offset >> 32), DWORD(length), DWORD(length >> 32)) ? ok : fail;
}

void file::unlock(std::uint64_t offset, std::uint64_t length)
{
    state = UnlockFile(handle, DWORD(offset), DWORD(offset >> 32), DWORD(length), DWORD(length >> 32)) ? ok : fail;
}

std::uint64_t file::size()
{
    if (!is_open())
        return npos;
    DWORD high = 0;
    SetLastError(NO_ERROR);
    const DWORD low = GetFileSize(handle, &high);
    if (low == INVALID_FILE_SIZE && GetLastError() != NO_ERROR)
        return npos;
    return (std::uint64_t(high) << 32) | low;
}

void file::truncate()
{
    state = SetEndOfFile(handle) ? ok : fail;
}

time_point file::ctime()
{
    FILETIME t;
    return GetFileTime(handle, &t, nullptr, nullptr) ? from_file_time(t) : time_point::none();
}

time_point file::atime()
{
    FILETIME t;
    return GetFileTime(handle, nullptr, &t, nullptr) ? from_file_time(t) : time_point::none();
}

time_point file::mtime()
{
    FILETIME t;
    return GetFileTime(handle, nullptr, nullptr, &t) ? from_file_time(t) : time_point::none();
}

void file::set_ctime(time_point t)
{
    set_times(&t, nullptr, nullptr);
}

void file::set_atime(time_point t)
{
    set_times(nullptr, &t, nullptr);
}

void file::set_mtime(time_point t)
{
    set_times(nullptr, nullptr, &t);
}

void file::set_times(const time_point* created, const time_point* accessed, const time_point* written)
{
    FILETIME c, a, w;
    if (created)
        c = to_file_time(*created);
    if (accessed)
        a = to_file_time(*accessed);
    if (written)
        w = to_file_time(*written);
    if (!SetFileTime(handle, created ? &c : nullptr, accessed ? &a : nullptr, written ? &w : nullptr))
        throw std::system_error(int(GetLastError()), std::system_category(), "SetFileTime failed");
}

}  // namespace stream
}  // namespace fenrix
