// Walks a package's file records in order, for everything that reads past the
// header: the extractor, the tool's listing and verification, the benchmark.
// Every read is positional, so decoders may read earlier entries' data from
// the same open package while the walker goes on.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>

#include "package/package.h"

namespace package {

// One entry's stored bytes, read by offset on whichever thread decodes it.
class EntryReader {
 public:
  EntryReader(const platform::File& package, std::uint64_t dataOffset, std::int64_t dataSize, std::uint64_t length);

  std::int64_t dataSize() const { return dataSize_; }
  // Up to `count` bytes of the entry; 0 once the entry or the package ended.
  std::size_t ReadData(void* buffer, std::size_t count);
  // Steps over the rest of the entry, never beyond the package's end.
  void SkipData();
  // The last `count` bytes of the entry, read by position, whatever was read
  // of it; false when the entry is shorter or the package ends before them.
  bool ReadTail(void* buffer, std::size_t count) const;
  // Bytes of the package behind this entry's reads, header included.
  std::uint64_t position() const { return position_; }

 private:
  const platform::File* package_;
  std::int64_t dataSize_;
  std::uint64_t position_;
  std::uint64_t dataLeft_;
  std::uint64_t length_;
};

class RecordWalker {
 public:
  // The records start at `position` (just after the header); the package is
  // `length` bytes long. The walker never moves the file pointer.
  RecordWalker(const platform::File& package, std::uint64_t position, std::uint64_t length);

  // Steps over what is left of the current entry and reads the next record.
  // False at the end of the entry list: a short record, a record without
  // "FILE", or an entry whose data reached beyond the package.
  bool Next(PackageFileRecord* record);

  // The current entry: where its data starts and its FileSize.
  std::uint64_t dataOffset() const { return dataOffset_; }
  std::int64_t dataSize() const { return dataSize_; }
  // A reader of the current entry's data of its own, independent of the walker.
  EntryReader Entry() const { return EntryReader(package_, dataOffset_, dataSize_, length_); }
  // Reads up to `count` bytes of the current entry's data; 0 once the entry
  // or the package has ended.
  std::size_t ReadData(void* buffer, std::size_t count);
  // Steps over the rest of the current entry. An entry that claims more than
  // the package holds ends the walk here: nothing is read beyond the end.
  void SkipData();
  // As EntryReader::ReadTail for the current entry (`count` at most
  // kMaxTail), in one read with the record behind it, which the next Next
  // then takes without a read of its own: a run that leaves most entries as
  // they are reads each record and check value in one call.
  bool ReadTail(void* buffer, std::size_t count);
  static constexpr std::size_t kMaxTail = 8;

  // Where the entry list ends, once Next has returned false: the offset of
  // the record that ended it, or the claimed end of an entry whose data
  // reached beyond the package.
  std::uint64_t entriesEnd() const { return entriesEnd_; }

  // Goes back to just behind the entry whose data starts at `dataOffset`,
  // as Next left it then: the next Next reads the record after that entry.
  void ResumeAfter(std::uint64_t dataOffset, std::int64_t dataSize);

  // Bytes of the package behind the walker, header included.
  std::uint64_t position() const { return position_; }
  std::uint64_t length() const { return length_; }

 private:
  const platform::File& package_;
  std::uint64_t position_;
  std::uint64_t length_;
  std::uint64_t dataOffset_ = 0;
  std::int64_t dataSize_ = 0;
  std::uint64_t dataLeft_ = 0;
  std::uint64_t entriesEnd_;
  bool ended_ = false;
  // The record ReadTail read at `aheadAt_`, whole.
  std::array<std::uint8_t, kPackageFileRecordSize> ahead_{};
  std::uint64_t aheadAt_ = 0;
  bool hasAhead_ = false;
};

}  // namespace package
