// The error that file operations raise: a cause, the OS's code and the file.
#pragma once

#include <cstdint>
#include <exception>
#include <string>

class FileError : public std::exception {
 public:
  enum Cause : int {
    kNone = 0,
    kGeneric = 1,
    kFileNotFound = 2,
    kBadPath = 3,
    kTooManyOpenFiles = 4,
    kAccessDenied = 5,
    kInvalidFile = 6,
    kRemoveCurrentDir = 7,
    kDirectoryFull = 8,
    kBadSeek = 9,
    kHardIO = 10,
    kSharingViolation = 11,
    kLockViolation = 12,
    kDiskFull = 13,
    kEndOfFile = 14,
    // Not an OS failure: stored data that does not decode. Kept apart from the
    // OS causes so that no damaged file is ever reported as a disk problem.
    kDamaged = 15,
  };

  FileError() = default;
  FileError(Cause cause, std::int64_t osError, std::wstring fileName)
      : cause_(cause), osError_(osError), fileName_(std::move(fileName)) {}

  Cause cause() const { return cause_; }
  std::int64_t osError() const { return osError_; }  // -1 where none applies
  const std::wstring& fileName() const { return fileName_; }

  // The cause's message with %1 replaced by the file name.
  std::wstring Text() const;
  static std::wstring MessageTemplate(Cause cause);

  const char* what() const noexcept override { return "FileError"; }

 private:
  Cause cause_ = kNone;
  std::int64_t osError_ = -1;
  std::wstring fileName_;
};
