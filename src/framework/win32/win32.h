// What the Win32 pieces share: the program's names and texts are UTF-8 and
// Windows' own are UTF-16, so every name crosses at these two calls.
#pragma once
#include <windows.h>

#include <string>

// The module whose resources (icon, strings, About dialog) the program uses.
void Win32SetInstance(HINSTANCE instance);

// False for text with no form in the other encoding (invalid UTF-8, a lone
// surrogate): such a name is refused, never turned into another file's.
bool Win32Widen(const std::string& text, std::wstring* out);
bool Win32Narrow(const std::wstring& text, std::string* out);
