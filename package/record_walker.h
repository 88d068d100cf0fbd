// Walks a package's file records in order, for everything that reads past the
// header: the extractor, the tool's listing and verification, the benchmark.
#pragma once

#include <cstddef>
#include <cstdint>

#include "package/package.h"

class RecordWalker {
 public:
  // `package` stands at `position` (just after its header) and is `length`
  // bytes long; the walker alone reads from it afterwards.
  RecordWalker(platform::File& package, std::uint64_t position, std::uint64_t length);

  // Steps over what is left of the current entry and reads the next record.
  // False at the end of the entry list: a short record, a record without
  // "FILE", or an entry whose data reached beyond the package.
  bool Next(PackageFileRecord* record);

  // The current entry: where its data starts and its FileSize.
  std::uint64_t DataOffset() const { return dataOffset_; }
  std::int64_t DataSize() const { return dataSize_; }
  // Reads up to `count` bytes of the current entry's data; 0 once the entry
  // or the package has ended.
  std::size_t ReadData(void* buffer, std::size_t count);
  // Steps over the rest of the current entry. An entry that claims more than
  // the package holds ends the walk here: nothing is sought beyond the end.
  void SkipData();

  // Where the entry list ends, once Next has returned false: the offset of
  // the record that ended it, or the claimed end of an entry whose data
  // reached beyond the package.
  std::uint64_t EntriesEnd() const { return entriesEnd_; }

  // Bytes of the package behind the walker, header included.
  std::uint64_t Position() const { return position_; }
  std::uint64_t Length() const { return length_; }

 private:
  platform::File& package_;
  std::uint64_t position_;
  std::uint64_t length_;
  std::uint64_t dataOffset_ = 0;
  std::int64_t dataSize_ = 0;
  std::uint64_t dataLeft_ = 0;
  std::uint64_t entriesEnd_;
  bool ended_ = false;
};
