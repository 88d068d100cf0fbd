#include "platform/win32/system_library.h"

#include <string>

#include "platform/win32/owners.h"

namespace platform {
namespace {

HMODULE LoadFromSystemFolder(const wchar_t* name) {
  // By name, so that the manifest's side-by-side common controls still apply.
  if (HMODULE module = ::LoadLibraryExW(name, nullptr, LOAD_LIBRARY_SEARCH_SYSTEM32)) return module;
  if (::GetLastError() != ERROR_INVALID_PARAMETER) return nullptr;
  // Windows 7 without its 2011 loader update knows no search flags: the full
  // path, whose own folder is then searched for the DLL's imports.
  wchar_t folder[MAX_PATH] = {};
  const UINT length = ::GetSystemDirectoryW(folder, MAX_PATH);
  if (length == 0 || length >= MAX_PATH) return nullptr;
  const std::wstring path = std::wstring(folder, length) + L"\\" + name;
  return ::LoadLibraryExW(path.c_str(), nullptr, LOAD_WITH_ALTERED_SEARCH_PATH);
}

// Each loaded once, also when threads ask together, and freed at exit.
HMODULE Module(SystemDll dll) {
  switch (dll) {
    case SystemDll::kComctl32: {
      static const UniqueModule comctl32(LoadFromSystemFolder(L"comctl32.dll"));
      return comctl32.Get();
    }
    case SystemDll::kShell32: {
      static const UniqueModule shell32(LoadFromSystemFolder(L"shell32.dll"));
      return shell32.Get();
    }
    case SystemDll::kShlwapi: {
      static const UniqueModule shlwapi(LoadFromSystemFolder(L"shlwapi.dll"));
      return shlwapi.Get();
    }
  }
  return nullptr;
}

}  // namespace

FARPROC FindSystemFunction(SystemDll dll, const char* name) {
  HMODULE module = Module(dll);
  if (module == nullptr) {
    ::SetLastError(ERROR_MOD_NOT_FOUND);
    return nullptr;
  }
  return ::GetProcAddress(module, name);
}

}  // namespace platform
