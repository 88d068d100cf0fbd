#include <windows.h>
#include <shlobj.h>

#include <array>
#include <vector>

#include "platform/platform.h"
#include "platform/win32/system_library.h"

namespace platform {

std::wstring ProgramPath(std::size_t capacity) {
  // One unit more than offered, so the text ends within the buffer even
  // where the system fills it to the brim without a terminator.
  std::vector<wchar_t> buffer(capacity + 1, L'\0');
  ::GetModuleFileNameW(nullptr, buffer.data(), static_cast<DWORD>(capacity));
  return std::wstring(buffer.data());
}

std::optional<std::wstring> ProgramFilesFolder() {
  const auto folderPath =
      SystemFunction<decltype(::SHGetSpecialFolderPathW)>(SystemDll::kShell32, "SHGetSpecialFolderPathW");
  std::array<wchar_t, 1024> path{};
  if (folderPath == nullptr || !folderPath(nullptr, path.data(), CSIDL_PROGRAM_FILES, FALSE)) return std::nullopt;
  return std::wstring(path.data());
}

void LoadDllsFromSystemFolderOnly() {
  // Looked up, not imported: Windows 7 has it only with its 2011 loader update.
  HMODULE kernel = ::GetModuleHandleW(L"kernel32.dll");
  const auto setDefaultDirectories = reinterpret_cast<BOOL(WINAPI*)(DWORD)>(
      reinterpret_cast<void (*)()>(::GetProcAddress(kernel, "SetDefaultDllDirectories")));
  if (setDefaultDirectories != nullptr) setDefaultDirectories(LOAD_LIBRARY_SEARCH_SYSTEM32);
  // Also drops the current folder where the call above is missing.
  ::SetDllDirectoryW(L"");
}

}  // namespace platform
