// Walks a package entry by entry without unpacking it: for listing and
// verifying packages. The wizard's path is ExtractPackage.
#pragma once

#include <optional>
#include <string>

#include "package/engine.h"
#include "package/package.h"
#include "package/record_walker.h"
#include "package/size_index.h"
#include "package/stream_decoder.h"

namespace package {

class PackageReader {
 public:
  explicit PackageReader(const ExtractBuffers& buffers = {256 * 1024, 1024 * 1024}) : work_(buffers) {}
  PackageReader(const PackageReader&) = delete;
  PackageReader& operator=(const PackageReader&) = delete;

  // Opens exactly `path` and checks its header against `expectedName`; a
  // package that passes has its size index read too. `forUpdate` opens it for
  // writing as well (see file()).
  Result Open(const std::wstring& path, const std::wstring& expectedName, bool forUpdate = false);
  const PackageHeader& header() const { return header_; }
  const size_index::SizeIndex& index() const { return index_; }

  // The next record; false at the end of the entry list. What is left of the
  // previous entry's data is stepped over.
  bool NextRecord(PackageFileRecord* record);
  void SkipData();
  // Decodes the current entry's data, discarding it; `decodedBytes` gets the
  // size of the file it would install.
  StreamState VerifyData(std::uint64_t* decodedBytes);
  // Where the entry list ended, once NextRecord has returned false.
  std::uint64_t EntriesEnd() const { return walker_ ? walker_->entriesEnd() : kPackageHeaderSize; }

  // The open package, for writing its index once the walk is over.
  platform::File& file() { return file_; }

 private:
  platform::File file_;
  PackageHeader header_;
  size_index::SizeIndex index_;
  DecodeWorkspace work_;
  std::optional<RecordWalker> walker_;
};

}  // namespace package
