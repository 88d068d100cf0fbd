#include "package/reader.h"

#include "package/trace.h"

namespace package {

Result PackageReader::Open(const std::wstring& path, const std::wstring& expectedName, bool forUpdate) {
  walker_.reset();
  index_ = {};
  file_ = platform::File();
  Result result;
  if (forUpdate) {
    if (!file_.Open(path, platform::File::Mode::kUpdateExclusive, &result.openError)) {
      result.outcome = Outcome::kCannotOpen;
    } else {
      result.headerFault = CheckHeader(expectedName, file_, &result.header);
      if (result.headerFault != HeaderFault::kNone) result.outcome = Outcome::kInvalidHeader;
    }
  } else {
    result = OpenPackage(path, expectedName, &file_);
  }
  header_ = result.header;
  if (result.outcome != Outcome::kCannotOpen) trace::TraceHeader(header_, result.headerFault);
  if (result.outcome == Outcome::kExtracted) {
    index_ = size_index::Read(file_);
    walker_.emplace(file_, file_.Position(), file_.Length());
  }
  return result;
}

bool PackageReader::NextRecord(PackageFileRecord* record) { return walker_ && walker_->Next(record); }

void PackageReader::SkipData() {
  if (walker_) walker_->SkipData();
}

StreamState PackageReader::VerifyData(std::uint64_t* decodedBytes) {
  *decodedBytes = 0;
  if (!walker_) return StreamState::kTruncated;
  return DecodeStream(
      *walker_, work_, [&](const unsigned char*, std::size_t n) { *decodedBytes += n; }, [] { return true; });
}

}  // namespace package
