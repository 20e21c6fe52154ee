// Deleter for shared pointers to objects owned elsewhere: grammars are built
// from automatic objects that several composite parsers refer to, and those
// references must never free them.
#pragma once

namespace fenrix {

template <class T>
struct no_delete {
    constexpr no_delete() noexcept = default;
    template <class U>
    constexpr no_delete(const no_delete<U>&) noexcept
    {
    }
    constexpr void operator()(T*) const noexcept {}
};

}  // namespace fenrix
