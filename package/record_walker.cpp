#include "package/record_walker.h"

#include <algorithm>

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
  const std::size_t got = package_.ReadAt(position_, record->bytes.data(), record->bytes.size());
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
