// An allocator that overwrites every block with zeros before releasing it, for
// strings that hold passwords. Portable: no Windows API.
#pragma once

#include <cstddef>
#include <memory>
#include <string>

namespace wembra {

// Called with every block just before it is released; tests set it to observe
// that the wipe happened. Null in the program.
inline void (*wipe_observer)(const void* block, std::size_t bytes) = nullptr;

inline void secure_zero(void* block, std::size_t bytes)
{
    // Volatile stores cannot be dropped as dead by the optimiser.
    volatile unsigned char* p = static_cast<volatile unsigned char*>(block);
    while (bytes--)
        *p++ = 0;
}

template <class T>
struct wiping_allocator {
    using value_type = T;

    wiping_allocator() noexcept = default;
    template <class U>
    wiping_allocator(const wiping_allocator<U>&) noexcept
    {
    }

    T* allocate(std::size_t n) { return std::allocator<T>().allocate(n); }

    void deallocate(T* block, std::size_t n) noexcept
    {
        secure_zero(block, n * sizeof(T));
        if (wipe_observer)
            wipe_observer(block, n * sizeof(T));
        std::allocator<T>().deallocate(block, n);
    }

    template <class U>
    bool operator==(const wiping_allocator<U>&) const noexcept
    {
        return true;
    }
};

using wiping_string = std::basic_string<char, std::char_traits<char>, wiping_allocator<char>>;
using wiping_wstring = std::basic_string<wchar_t, std::char_traits<wchar_t>, wiping_allocator<wchar_t>>;

}  // namespace wembra
