// Walks a package entry by entry without unpacking it: for listing and
// verifying packages. The wizard's path is ExtractPackage.
#pragma once

#include <string>

#include "package/package.h"
#include "package/stream_decoder.h"

class PackageReader {
 public:
  explicit PackageReader(const ExtractBuffers& buffers = {256 * 1024, 1024 * 1024}) : work_(buffers) {}

  // Opens the package and checks its header against the file's own name.
  // E_FAIL when it cannot be opened or the header is invalid.
  HRESULT Open(const std::wstring& path);
  const PackageHeader& header() const { return header_; }
  std::uint64_t length() { return file_.Length(); }

  // The next record; false at the end of the entry list. The entry's data
  // must then be skipped or decoded before the next call.
  bool NextRecord(PackageFileRecord* record);
  void SkipData();
  // Decodes the current entry's data, discarding it; `decodedBytes` gets the
  // size of the file it would install.
  StreamState VerifyData(std::uint64_t* decodedBytes);

 private:
  platform::File file_;
  PackageHeader header_;
  DecodeWorkspace work_;
  std::int64_t pendingData_ = 0;
};

// The package name a path stands for: the file name without its extension.
std::wstring PackageNameFromPath(const std::wstring& path);
// The folder part of a path, ending in a separator (empty for a bare name).
std::wstring FolderOfPath(const std::wstring& path);
