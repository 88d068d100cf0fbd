#include "package/record_walker.h"

#include <algorithm>
#include <cstring>

namespace package {

EntryReader::EntryReader(const platform::File& package, std::uint64_t dataOffset, std::int64_t dataSize,
                         std::uint64_t length)
    : package_(&package),
      dataSize_(dataSize),
      position_(dataOffset),
      dataLeft_(dataSize > 0 ? static_cast<std::uint64_t>(dataSize) : 0),
      length_(length) {}

std::size_t EntryReader::ReadData(void* buffer, std::size_t count) {
  const auto want = static_cast<std::size_t>(std::min<std::uint64_t>(dataLeft_, count));
  if (want == 0) return 0;
  const std::size_t got = package_->ReadAt(position_, buffer, want);
  position_ += got;
  dataLeft_ -= got;
  return got;
}

void EntryReader::SkipData() {
  if (dataLeft_ == 0) return;
  position_ =
      position_ > length_ || dataLeft_ > length_ - position_ ? std::max(position_, length_) : position_ + dataLeft_;
  dataLeft_ = 0;
}

bool EntryReader::ReadTail(void* buffer, std::size_t count) const {
  if (dataSize_ < 0 || static_cast<std::uint64_t>(dataSize_) < count) return false;
  if (position_ > length_ || dataLeft_ > length_ - position_) return false;
  return package_->ReadAt(position_ + dataLeft_ - count, buffer, count) == count;
}

RecordWalker::RecordWalker(const platform::File& package, std::uint64_t position, std::uint64_t length)
    : package_(package), position_(position), length_(length), entriesEnd_(position) {}

bool RecordWalker::Next(PackageFileRecord* record) {
  SkipData();
  if (ended_) return false;
  entriesEnd_ = position_;
  std::size_t got = record->bytes.size();
  if (hasAhead_ && aheadAt_ == position_)
    record->bytes = ahead_;
  else
    got = package_.ReadAt(position_, record->bytes.data(), record->bytes.size());
  hasAhead_ = false;
  position_ += got;
  if (got < record->bytes.size() || !record->HasFileMagic()) {
    ended_ = true;
    return false;
  }
  dataOffset_ = position_;
  dataSize_ = record->FileSize();
  dataLeft_ = dataSize_ > 0 ? static_cast<std::uint64_t>(dataSize_) : 0;
  return true;
}

void RecordWalker::ResumeAfter(std::uint64_t dataOffset, std::int64_t dataSize) {
  hasAhead_ = false;
  position_ = dataOffset;
  dataOffset_ = dataOffset;
  dataSize_ = dataSize;
  dataLeft_ = dataSize > 0 ? static_cast<std::uint64_t>(dataSize) : 0;
  ended_ = false;
}

std::size_t RecordWalker::ReadData(void* buffer, std::size_t count) {
  const auto want = static_cast<std::size_t>(std::min<std::uint64_t>(dataLeft_, count));
  if (want == 0) return 0;
  const std::size_t got = package_.ReadAt(position_, buffer, want);
  position_ += got;
  dataLeft_ -= got;
  return got;
}

bool RecordWalker::ReadTail(void* buffer, std::size_t count) {
  if (count > kMaxTail || dataSize_ < 0 || static_cast<std::uint64_t>(dataSize_) < count) return false;
  if (dataOffset_ > length_ || static_cast<std::uint64_t>(dataSize_) > length_ - dataOffset_) return false;
  const std::uint64_t end = dataOffset_ + static_cast<std::uint64_t>(dataSize_);
  std::array<std::uint8_t, kMaxTail + kPackageFileRecordSize> both;
  const std::size_t got = package_.ReadAt(end - count, both.data(), count + kPackageFileRecordSize);
  if (got < count) return false;
  std::memcpy(buffer, both.data(), count);
  // A record cut short by the package's end is read again by Next, which
  // then ends the walk as always.
  if (got == count + kPackageFileRecordSize) {
    std::memcpy(ahead_.data(), both.data() + count, kPackageFileRecordSize);
    aheadAt_ = end;
    hasAhead_ = true;
  }
  return true;
}

void RecordWalker::SkipData() {
  if (dataLeft_ == 0) return;
  // Decided from the length, never by reading there.
  if (position_ > length_ || dataLeft_ > length_ - position_) {
    entriesEnd_ = position_ + dataLeft_;
    position_ = std::max(position_, length_);
    ended_ = true;
  } else {
    position_ += dataLeft_;
  }
  dataLeft_ = 0;
}

}  // namespace package
