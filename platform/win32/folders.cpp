#include <windows.h>
#include <shlobj.h>

#include "platform/platform.h"
#include "platform/win32/owners.h"
#include "platform/win32/system_library.h"
#if defined(VARNHOLT_FAULT_INJECTION)
#include "platform/fault_injection.h"
#endif

namespace platform {
namespace {

// A handle for a file's times; shares everything, since it only touches
// metadata, and opens folders too.
UniqueFileHandle OpenForAttributes(const std::wstring& path, DWORD access) {
  return UniqueFileHandle(::CreateFileW(path.c_str(), access, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                                        nullptr, OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS, nullptr));
}

FILETIME ToFiletime(std::uint64_t ticks) {
  FILETIME time;
  time.dwLowDateTime = static_cast<DWORD>(ticks);
  time.dwHighDateTime = static_cast<DWORD>(ticks >> 32);
  return time;
}

std::uint64_t FromFiletime(const FILETIME& time) {
  return (static_cast<std::uint64_t>(time.dwHighDateTime) << 32) | time.dwLowDateTime;
}

}  // namespace

std::vector<std::wstring> FindFiles(const std::wstring& folder, const std::wstring& pattern) {
  std::vector<std::wstring> names;
  std::wstring query = folder;
  if (!query.empty() && query.back() != L'\\' && query.back() != L'/') query += L'\\';
  query += pattern;
  WIN32_FIND_DATAW data;
  const UniqueFindHandle find(::FindFirstFileW(query.c_str(), &data));
  if (!find) return names;
  do {
    const std::wstring name = data.cFileName;
    if (name != L"." && name != L"..") names.push_back(name);
  } while (::FindNextFileW(find.Get(), &data));
  return names;
}

bool CreateFolderTree(const std::wstring& path) {
#if defined(VARNHOLT_FAULT_INJECTION)
  if (const auto code = fault_injection::OnCall(fault_injection::Operation::kCreateFolder, path)) {
    ::SetLastError(*code);
    return false;
  }
#endif
  // Nearly always there already: one look, not the shell's walk of every level.
  if (IsFolder(path)) return true;
  const auto createDirectory =
      SystemFunction<decltype(::SHCreateDirectoryExW)>(SystemDll::kShell32, "SHCreateDirectoryExW");
  if (createDirectory == nullptr) return false;
  const int result = createDirectory(nullptr, path.c_str(), nullptr);
  if (result == ERROR_SUCCESS || result == ERROR_FILE_EXISTS || result == ERROR_ALREADY_EXISTS) {
    if (IsFolder(path)) return true;
    ::SetLastError(ERROR_DIRECTORY);
    return false;
  }
  ::SetLastError(static_cast<DWORD>(result));
  return false;
}

bool GetFileTimes(const std::wstring& path, FileTimes* times) {
  const UniqueFileHandle file = OpenForAttributes(path, FILE_READ_ATTRIBUTES);
  FILETIME creation, access, write;
  if (!file || !::GetFileTime(file.Get(), &creation, &access, &write)) return false;
  times->creation = FromFiletime(creation);
  times->lastAccess = FromFiletime(access);
  times->lastWrite = FromFiletime(write);
  return true;
}

std::optional<FileLook> LookAtFile(const std::wstring& path) {
  WIN32_FILE_ATTRIBUTE_DATA data{};
  if (!::GetFileAttributesExW(path.c_str(), GetFileExInfoStandard, &data) ||
      (data.dwFileAttributes & (FILE_ATTRIBUTE_DIRECTORY | FILE_ATTRIBUTE_DEVICE)))
    return std::nullopt;
  return FileLook{(static_cast<std::uint64_t>(data.nFileSizeHigh) << 32) | data.nFileSizeLow,
                  FromFiletime(data.ftLastWriteTime)};
}

bool SetFileTimes(const std::wstring& path, const FileTimes& times) {
  const UniqueFileHandle file = OpenForAttributes(path, FILE_WRITE_ATTRIBUTES);
  if (!file) return false;
  const FILETIME creation = ToFiletime(times.creation);
  const FILETIME access = ToFiletime(times.lastAccess);
  const FILETIME write = ToFiletime(times.lastWrite);
  return ::SetFileTime(file.Get(), times.creation ? &creation : nullptr, times.lastAccess ? &access : nullptr,
                       times.lastWrite ? &write : nullptr) != FALSE;
}

bool RemoveFile(const std::wstring& path) { return ::DeleteFileW(path.c_str()) != FALSE; }

// A file that someone holds open without FILE_SHARE_DELETE (every File does)
// cannot be deleted, and DeleteFileW refuses folders.
bool RemoveUnusedFile(const std::wstring& path) {
  if (RemoveFile(path)) return true;
  DWORD code = ::GetLastError();
  // A read-only file is refused with the code a running program's file gets;
  // nobody holds it, and a restart would not take it either.
  if (code == ERROR_ACCESS_DENIED) {
    const DWORD attributes = ::GetFileAttributesW(path.c_str());
    if (attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_READONLY) &&
        !(attributes & FILE_ATTRIBUTE_DIRECTORY))
      code = ERROR_FILE_READ_ONLY;
  }
  ::SetLastError(code);
  return false;
}

bool RemoveAtRestart(const std::wstring& path) {
  return ::MoveFileExW(path.c_str(), nullptr, MOVEFILE_DELAY_UNTIL_REBOOT) != FALSE;
}

bool IsFolder(const std::wstring& path) {
  const DWORD attributes = ::GetFileAttributesW(path.c_str());
  return attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_DIRECTORY);
}

bool IsLink(const std::wstring& path) {
  const DWORD attributes = ::GetFileAttributesW(path.c_str());
  return attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_REPARSE_POINT);
}

bool RemoveEmptyFolder(const std::wstring& path) noexcept { return ::RemoveDirectoryW(path.c_str()) != FALSE; }

std::optional<FileIdentity> IdentityOf(const std::wstring& path) {
  const UniqueFileHandle file = OpenForAttributes(path, 0);
  BY_HANDLE_FILE_INFORMATION info;
  if (!file || !::GetFileInformationByHandle(file.Get(), &info)) return std::nullopt;
  return FileIdentity{info.dwVolumeSerialNumber,
                      (static_cast<std::uint64_t>(info.nFileIndexHigh) << 32) | info.nFileIndexLow};
}

std::optional<std::wstring> CreateTempFile(const std::wstring& folder, const std::wstring& prefix) {
  wchar_t name[MAX_PATH + 1] = {};
  if (::GetTempFileNameW(folder.c_str(), prefix.c_str(), 0, name) == 0) return std::nullopt;
  return std::wstring(name);
}

}  // namespace platform
