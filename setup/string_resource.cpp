#include "setup/string_resource.hpp"

namespace fenrix {

const wchar_t* load_string(HINSTANCE module, UINT id)
{
    const wchar_t* text = nullptr;
    // A zero buffer length asks for a pointer into the resource.
    if (LoadStringW(module, id, reinterpret_cast<wchar_t*>(&text), 0) <= 0 || !text)
        return L"";
    return text;
}

}  // namespace fenrix
