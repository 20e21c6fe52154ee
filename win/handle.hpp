// Owning wrappers of system handles: one template, one class per release
// function. Each handle has exactly one owner; wrappers are not copied.
#pragma once

#include <windows.h>

#include <cstdint>
#include <utility>

namespace wembra {

template <class T, std::uintptr_t Invalid>
class handle {
public:
    static T invalid() { return reinterpret_cast<T>(Invalid); }

    handle() : handle_(invalid()) {}
    explicit handle(T value) : handle_(value) {}
    handle(const handle&) = delete;
    handle& operator=(const handle&) = delete;
    virtual ~handle() = default;  // derived classes release in their own destructor

    // Releases the held handle, if any, then holds `value`.
    void attach(T value)
    {
        if (handle_ != invalid())
            free_internal();
        handle_ = value;
    }

    // Gives up ownership without releasing.
    T detach() { return std::exchange(handle_, invalid()); }

    T get() const { return handle_; }
    // For Windows calls that return a handle through an out-parameter; the
    // wrapper must be empty.
    T* out() { return &handle_; }
    explicit operator bool() const { return handle_ != invalid(); }

    T handle_;

protected:
    virtual void free_internal() = 0;
    void release_now()
    {
        if (handle_ != invalid())
            free_internal();
        handle_ = invalid();
    }
};

#define LUMORA_HANDLE_CLASS(name, type, invalid_value, release) \
    class name : public handle<type, invalid_value> {           \
    public:                                                     \
        using handle::handle;                                   \
        name(name&& other) noexcept : handle(other.detach()) {} \
        name& operator=(name&& other) noexcept                  \
        {                                                       \
            if (this != &other)                                 \
                attach(other.detach());                         \
            return *this;                                       \
        }                                                       \
        ~name() override { release_now(); }                     \
                                                                \
    protected:                                                  \
        void free_internal() override { release(handle_); }     \
    }

template <int>
LUMORA_HANDLE_CLASS(win_handle, HANDLE, 0, CloseHandle);
LUMORA_HANDLE_CLASS(find_file, HANDLE, std::uintptr_t(-1), FindClose);
LUMORA_HANDLE_CLASS(reg_key, HKEY, 0, RegCloseKey);
LUMORA_HANDLE_CLASS(library, HINSTANCE, 0, FreeLibrary);

#undef LUMORA_HANDLE_CLASS

// The usual kernel object handle, null when empty.
using kernel_handle = win_handle<0>;

// Holds a Windows mutex for a scope. WAIT_ABANDONED counts as locked: the
// mutex is taken over from a thread that ended without releasing it.
class mutex_locker {
public:
    // Throws std::runtime_error("timeout") or win_runtime_error
    // "WaitForSingleObject failed".
    mutex_locker(HANDLE mutex, DWORD milliseconds);
    mutex_locker(const mutex_locker&) = delete;
    mutex_locker& operator=(const mutex_locker&) = delete;
    virtual ~mutex_locker();

private:
    HANDLE mutex;
};

}  // namespace wembra
