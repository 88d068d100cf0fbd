#include <windows.h>
#include <shlwapi.h>

#include <climits>
#include <iterator>

#include "platform/platform.h"
#include "platform/win32/system_library.h"

namespace platform {
namespace {

bool IsSeparator(wchar_t c) { return c == L'\\' || c == L'/'; }

// "D:\a\b\" -> "D:\a\", "D:\" -> none: the folder one level up, with the
// trailing backslash the size query wants for a share's root.
std::optional<std::wstring> ParentOf(std::wstring path) {
  while (!path.empty() && IsSeparator(path.back()))
    path.pop_back();
  const std::size_t at = path.find_last_of(L"\\/");
  if (at == std::wstring::npos || at == 0) return std::nullopt;
  return path.substr(0, at + 1);
}

}  // namespace

std::optional<std::uint64_t> FileSize(const std::wstring& path) {
  WIN32_FILE_ATTRIBUTE_DATA data{};
  if (!::GetFileAttributesExW(path.c_str(), GetFileExInfoStandard, &data) ||
      (data.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY))
    return std::nullopt;
  return (static_cast<std::uint64_t>(data.nFileSizeHigh) << 32) | data.nFileSizeLow;
}

std::optional<std::uint64_t> AvailableSpace(const std::wstring& folder) {
  std::optional<std::wstring> probe = folder;
  while (probe && !probe->empty()) {
    // The caller's share: a quota may leave less than the drive has free.
    ULARGE_INTEGER available{};
    if (::GetDiskFreeSpaceExW(probe->c_str(), &available, nullptr, nullptr)) return available.QuadPart;
    const DWORD error = ::GetLastError();
    if (error != ERROR_FILE_NOT_FOUND && error != ERROR_PATH_NOT_FOUND && error != ERROR_DIRECTORY) return std::nullopt;
    probe = ParentOf(*probe);
  }
  return std::nullopt;
}

std::wstring FormatByteSize(std::uint64_t bytes) {
  wchar_t text[64] = {};
  const auto value = static_cast<LONGLONG>(bytes > static_cast<std::uint64_t>(LLONG_MAX) ? LLONG_MAX : bytes);
  const auto format = SystemFunction<decltype(::StrFormatByteSizeW)>(SystemDll::kShlwapi, "StrFormatByteSizeW");
  if (format == nullptr || format(value, text, static_cast<UINT>(std::size(text))) == nullptr)
    return std::to_wstring(bytes) + L" bytes";
  return text;
}

}  // namespace platform
