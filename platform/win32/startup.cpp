#include <windows.h>
#include <shlobj.h>

#include <array>
#include <vector>

#include "platform/platform.h"

namespace platform {

std::wstring ProgramPath(std::size_t capacity) {
  // One unit more than offered, so the text ends within the buffer even
  // where the system fills it to the brim without a terminator.
  std::vector<wchar_t> buffer(capacity + 1, L'\0');
  ::GetModuleFileNameW(nullptr, buffer.data(), static_cast<DWORD>(capacity));
  return std::wstring(buffer.data());
}

std::optional<std::wstring> ProgramFilesFolder() {
  std::array<wchar_t, 1024> path{};
  if (!::SHGetSpecialFolderPathW(nullptr, path.data(), CSIDL_PROGRAM_FILES, FALSE)) return std::nullopt;
  return std::wstring(path.data());
}

}  // namespace platform
