#include <windows.h>

#include "platform/platform.h"

namespace platform {

ErrorCode LastError() { return ::GetLastError(); }

void SetLastError(ErrorCode code) { ::SetLastError(code); }

std::wstring SystemErrorText(ErrorCode code) {
  wchar_t buffer[1024] = {};
  const DWORD length = ::FormatMessageW(FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS, nullptr, code, 0,
                                        buffer, 1024, nullptr);
  std::wstring message(buffer, length);
  while (!message.empty() && (message.back() == L'\n' || message.back() == L'\r' || message.back() == L' '))
    message.pop_back();
  return message;
}

bool IsExistsError(ErrorCode code) { return code == ERROR_FILE_EXISTS || code == ERROR_ALREADY_EXISTS; }

bool IsInUseError(ErrorCode code) {
  // Deleting the file of a running program gives ERROR_ACCESS_DENIED, not a
  // sharing violation, on Windows and under Wine alike (seen with Wine 8).
  // A read-only file gives the same code; RemoveUnusedFile tells it apart.
  return code == ERROR_SHARING_VIOLATION || code == ERROR_LOCK_VIOLATION || code == ERROR_USER_MAPPED_FILE ||
         code == ERROR_ACCESS_DENIED;
}

FileError::Cause CauseFromError(ErrorCode code) {
  switch (code) {
    case NO_ERROR: return FileError::kNone;
    case ERROR_FILE_NOT_FOUND: return FileError::kFileNotFound;
    case ERROR_PATH_NOT_FOUND:
    case ERROR_INVALID_DRIVE:
    case ERROR_INVALID_NAME:
    case ERROR_BAD_PATHNAME:
    case ERROR_BAD_NETPATH:
    case ERROR_FILENAME_EXCED_RANGE:
    case ERROR_DIRECTORY: return FileError::kBadPath;
    case ERROR_TOO_MANY_OPEN_FILES: return FileError::kTooManyOpenFiles;
    case ERROR_ACCESS_DENIED:
    case ERROR_WRITE_PROTECT:
    case ERROR_NETWORK_ACCESS_DENIED:
    case ERROR_FILE_EXISTS:
    case ERROR_ALREADY_EXISTS: return FileError::kAccessDenied;
    case ERROR_INVALID_HANDLE: return FileError::kInvalidFile;
    case ERROR_CURRENT_DIRECTORY: return FileError::kRemoveCurrentDir;
    case ERROR_CANNOT_MAKE: return FileError::kDirectoryFull;
    case ERROR_NEGATIVE_SEEK:
    case ERROR_SEEK_ON_DEVICE: return FileError::kBadSeek;
    case ERROR_SHARING_VIOLATION: return FileError::kSharingViolation;
    case ERROR_LOCK_VIOLATION: return FileError::kLockViolation;
    case ERROR_DISK_FULL:
    case ERROR_HANDLE_DISK_FULL: return FileError::kDiskFull;
    case ERROR_HANDLE_EOF: return FileError::kEndOfFile;
    case ERROR_CRC:
    case ERROR_SEEK:
    case ERROR_SECTOR_NOT_FOUND:
    case ERROR_READ_FAULT:
    case ERROR_WRITE_FAULT:
    case ERROR_GEN_FAILURE:
    case ERROR_NOT_READY: return FileError::kHardIO;
    default: return FileError::kGeneric;
  }
}

}  // namespace platform
