// The system DLLs a program uses beyond those it imports. The programs import
// only DLLs that Windows always maps from its own folder (kernel32, user32,
// gdi32, advapi32, ole32, msvcrt); every other one is loaded here, by name and
// from the system folder alone. A setup runs from a medium or a downloads
// folder, where a DLL of the same name may lie beside it and would run
// elevated.
#pragma once

#include <windows.h>

namespace platform {

enum class SystemDll { kComctl32, kShell32, kShlwapi };

// The function `name` of the DLL, which is loaded on first use and kept for
// the program's life; null, with the last error set, when either is missing.
FARPROC FindSystemFunction(SystemDll dll, const char* name);

// FindSystemFunction with the function's own type:
//   SystemFunction<decltype(::PropertySheetW)>(SystemDll::kComctl32, "PropertySheetW")
template <typename Function>
Function* SystemFunction(SystemDll dll, const char* name) {
  // Through the generic function type, which converts to any other.
  return reinterpret_cast<Function*>(reinterpret_cast<void (*)()>(FindSystemFunction(dll, name)));
}

}  // namespace platform
