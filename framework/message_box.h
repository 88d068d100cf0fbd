// Message boxes with the application's title as their caption.
#pragma once

#include <windows.h>

#include <string>

namespace framework {

// Returns the button pressed (IDOK, IDABORT, ...).
int MessageBox(HWND owner, const std::wstring& text, UINT type);

}  // namespace framework
