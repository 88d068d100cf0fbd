// The failures that the extraction itself finds in an entry: what failed and
// where, carried from the point it happens to whoever shows it. It is a
// FileError too, so every caller that handles file errors handles these.
#pragma once

#include <string>
#include <utility>

#include "platform/file_error.h"

namespace package {

enum class ErrorKind {
  kUnsafePath,          // the record's folder or name leaves the destination
  kFolderNotCreated,    // the entry's folder could not be created
  kOutputNotOpened,     // the output file cannot be replaced, or its temporary file created or moved
  kDamaged,             // the stored data does not decode, or its size is negative
  kDecoderUnavailable,  // zlib could not set up its state
};

class ExtractionError : public FileError {
 public:
  // `path` is the stored path for kUnsafePath, the folder for
  // kFolderNotCreated, else the output file (or the package, for entries it
  // lost).
  ExtractionError(ErrorKind kind, std::wstring path, FileError error)
      : FileError(std::move(error)), kind_(kind), path_(std::move(path)) {}

  ErrorKind kind() const { return kind_; }
  const std::wstring& path() const { return path_; }

 private:
  ErrorKind kind_;
  std::wstring path_;
};

}  // namespace package
