#include <cerrno>
#include <cstring>

#include "platform/platform.h"
#include "platform/text.h"

namespace platform {

ErrorCode LastError() { return static_cast<ErrorCode>(errno); }

void SetLastError(ErrorCode code) { errno = static_cast<int>(code); }

std::wstring SystemErrorText(ErrorCode code) {
  char buffer[256];
  // GNU strerror_r may return a static string instead of filling the buffer.
  const char* message = strerror_r(static_cast<int>(code), buffer, sizeof buffer);
  return message ? text::FromUtf8(message) : std::wstring();
}

bool IsExistsError(ErrorCode code) { return static_cast<int>(code) == EEXIST; }

// EBUSY is what RemoveUnusedFile says of a file that a File holds open.
bool IsInUseError(ErrorCode code) { return static_cast<int>(code) == EBUSY || static_cast<int>(code) == ETXTBSY; }

FileError::Cause CauseFromError(ErrorCode code) {
  switch (static_cast<int>(code)) {
    case 0: return FileError::kNone;
    case ENOENT: return FileError::kFileNotFound;
    case ENOTDIR:
    case ENAMETOOLONG:
    case ELOOP:
    case EISDIR:
    case EINVAL: return FileError::kBadPath;
    case EMFILE:
    case ENFILE: return FileError::kTooManyOpenFiles;
    case EACCES:
    case EPERM:
    case EROFS: return FileError::kAccessDenied;
    case EBADF: return FileError::kInvalidFile;
    case EBUSY: return FileError::kSharingViolation;
    case EWOULDBLOCK: return FileError::kSharingViolation;
    case EDEADLK:
    case ENOLCK: return FileError::kLockViolation;
    case ENOSPC:
    case EDQUOT:
    case EFBIG: return FileError::kDiskFull;
    case ESPIPE:
    case EOVERFLOW: return FileError::kBadSeek;
    case EIO: return FileError::kHardIO;
    default: return FileError::kGeneric;
  }
}

}  // namespace platform
