// Streams over Windows file handles: basic_sys reads and writes through a
// handle it owns; file opens a file by name and adds seeking, size,
// truncation, byte-range locks and file times.
#pragma once

#include <windows.h>

#include <string>

#include "stream/basic.hpp"

namespace fenrix {

struct sys_object_traits {
    static void* invalid() { return INVALID_HANDLE_VALUE; }
};

// Owns one handle; INVALID_HANDLE_VALUE means none.
template <class Handle, class Traits>
class basic_sys_object {
public:
    explicit basic_sys_object(Handle h = Traits::invalid()) : handle(h) {}
    basic_sys_object(const basic_sys_object&) = delete;
    basic_sys_object& operator=(const basic_sys_object&) = delete;
    virtual ~basic_sys_object();
    // Throws std::system_error "CloseHandle failed"; the handle then stays set.
    virtual void close();

    Handle handle;

protected:
    // Closes the handle; false (handle kept) on a failure other than an
    // already invalid handle.
    bool close_handle();
};

extern template class basic_sys_object<void*, sys_object_traits>;

namespace stream {

class basic_sys : public virtual basic, public basic_sys_object<void*, sys_object_traits> {
public:
    explicit basic_sys(void* h = INVALID_HANDLE_VALUE, state_t initial = ok) : basic(initial), basic_sys_object(h) {}

    std::size_t read(void* data, std::size_t length) override;
    std::size_t write(const void* data, std::size_t length) override;
    void flush() override;
    // Never throws: a failure leaves the handle set and state fail.
    void close() override;
};

// Open modes: access, disposition, sharing and flags of CreateFileW.
enum : int {
    mode_read = 0x0001,
    mode_write = 0x0002,
    mode_write_attributes = 0x0004,
    mode_disposition = 0x0038,
    mode_open_existing = 0x0000,
    mode_truncate_existing = 0x0008,
    mode_open_always = 0x0010,
    mode_create_new = 0x0018,
    mode_create_always = 0x0020,
    mode_append = 0x0040,
    mode_share_read = 0x0100,
    mode_share_write = 0x0200,
    mode_share_delete = 0x0400,
    mode_inheritable = 0x0800,
    mode_write_through = 0x1000,
    mode_no_buffering = 0x2000,
    mode_random_access = 0x4000,
    mode_sequential = 0x8000,
};

class file : public virtual basic_file, public basic_sys {
public:
    file() = default;
    file(const wchar_t* filename, int mode) { open(filename, mode); }
    file(const std::wstring& filename, int mode) { open(filename.c_str(), mode); }

    // Closes an open handle first. Throws std::invalid_argument "invalid
    // mode" for an invalid disposition; a failed CreateFileW leaves state
    // fail (GetLastError tells why).
    void open(const wchar_t* filename, int mode);

    std::size_t read(void* data, std::size_t length) override { return basic_sys::read(data, length); }
    std::size_t write(const void* data, std::size_t length) override { return basic_sys::write(data, length); }
    void flush() override { basic_sys::flush(); }
    void close() override { basic_sys::close(); }
    void skip(std::uint64_t amount) override { basic_file::skip(amount); }

    std::uint64_t seek(std::int64_t offset, seek_t how = beg) override;
    std::uint64_t tell() override;
    void lock(std::uint64_t offset, std::uint64_t length) override;
    void unlock(std::uint64_t offset, std::uint64_t length) override;
    std::uint64_t size() override;
    void truncate() override;
    time_point ctime() override;
    time_point atime() override;
    time_point mtime() override;
    void set_ctime(time_point t) override;
    void set_atime(time_point t) override;
    void set_mtime(time_point t) override;

    bool is_open() const { return handle != INVALID_HANDLE_VALUE; }

private:
    // SetFileTime with only the given times; throws "SetFileTime failed".
    void set_times(const time_point* created, const time_point* accessed, const time_point* written);
};

}  // namespace stream
}  // namespace fenrix
