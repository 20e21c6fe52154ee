// Read-only access to the program's string resources.
#pragma once

#include <windows.h>

namespace fenrix {

enum : UINT {
    string_progress_instruction = 1,
    string_title = 2,
    string_language_instruction = 3,
};

// The resource text itself, in place: the string table stores every text
// with its terminating NUL, so the pointer is a complete C string. An empty
// text when the resource is missing.
const wchar_t* load_string(HINSTANCE module, UINT id);

}  // namespace fenrix
