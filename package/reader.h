// Walks a package entry by entry without unpacking it: for listing and
// verifying packages. The wizard's path is ExtractPackage.
#pragma once

#include <optional>
#include <string>

#include "package/engine.h"
#include "package/package.h"
#include "package/record_walker.h"
#include "package/stream_decoder.h"

class PackageReader {
 public:
  explicit PackageReader(const ExtractBuffers& buffers = {256 * 1024, 1024 * 1024}) : work_(buffers) {}
  PackageReader(const PackageReader&) = delete;
  PackageReader& operator=(const PackageReader&) = delete;

  // Opens exactly `path` and checks its header against `expectedName`.
  package_engine::Result Open(const std::wstring& path, const std::wstring& expectedName);
  const PackageHeader& header() const { return header_; }

  // The next record; false at the end of the entry list. What is left of the
  // previous entry's data is stepped over.
  bool NextRecord(PackageFileRecord* record);
  void SkipData();
  // Decodes the current entry's data, discarding it; `decodedBytes` gets the
  // size of the file it would install.
  StreamState VerifyData(std::uint64_t* decodedBytes);

 private:
  platform::File file_;
  PackageHeader header_;
  DecodeWorkspace work_;
  std::optional<RecordWalker> walker_;
};
