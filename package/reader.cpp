#include "package/reader.h"

namespace {

bool IsSeparator(wchar_t c) { return c == L'/' || c == platform::kPathSeparator; }

std::size_t NameStart(const std::wstring& path) {
  for (std::size_t i = path.size(); i > 0; --i)
    if (IsSeparator(path[i - 1])) return i;
  return 0;
}

}  // namespace

std::wstring PackageNameFromPath(const std::wstring& path) {
  const std::wstring file = path.substr(NameStart(path));
  const auto dot = file.rfind(L'.');
  return dot == std::wstring::npos ? file : file.substr(0, dot);
}

std::wstring FolderOfPath(const std::wstring& path) { return path.substr(0, NameStart(path)); }

HRESULT PackageReader::Open(const std::wstring& path) {
  pendingData_ = 0;
  if (!file_.Open(path, platform::File::Mode::kReadExclusive)) return E_FAIL;
  return CheckPackageHeader(PackageNameFromPath(path), &header_, &file_);
}

bool PackageReader::NextRecord(PackageFileRecord* record) {
  const std::size_t got = file_.Read(record->bytes.data(), record->bytes.size());
  if (got < record->bytes.size() || !record->HasFileMagic()) return false;
  pendingData_ = record->FileSize();
  return true;
}

void PackageReader::SkipData() {
  if (pendingData_ > 0) file_.Seek(pendingData_, platform::File::Origin::kCurrent);
  pendingData_ = 0;
}

StreamState PackageReader::VerifyData(std::uint64_t* decodedBytes) {
  *decodedBytes = 0;
  const std::int64_t size = pendingData_;
  pendingData_ = 0;
  return DecodeStream(
      file_, size, work_, [&](const unsigned char*, std::size_t n) { *decodedBytes += n; }, [](std::uint64_t) {});
}
