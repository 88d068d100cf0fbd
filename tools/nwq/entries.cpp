#include "tools/nwq/entries.h"

#include "package/entry_path.h"
#include "tools/nwq/output.h"

namespace nwq {
namespace {

const wchar_t* Describe(package::StreamState state) {
  switch (state) {
    case package::StreamState::kCorrupt: return L"damaged: the stored data does not decode";
    case package::StreamState::kTruncated: return L"damaged: the stored data ends early";
    case package::StreamState::kNoDecoder: return L"cannot be decoded: out of memory";
    case package::StreamState::kComplete:
    case package::StreamState::kStopped: break;  // verification never stops
  }
  return L"";
}

}  // namespace

DecodedEntries DecodeEntries(const std::wstring& path, package::PackageReader& reader) {
  DecodedEntries result;
  package::PackageFileRecord record;
  while (reader.NextRecord(&record)) {
    const std::wstring folder = record.FolderWithSeparator();
    const std::wstring entry = folder + record.Name();
    if (!package::entry_path::IsSafe(folder, record.Name())) {
      PrintError(path + L": " + entry + L": would be written outside the destination");
      result.sound = false;
    }
    std::uint64_t decoded = 0;
    const package::StreamState state = reader.VerifyData(&decoded);
    result.unpackedBytes += decoded;
    if (state != package::StreamState::kComplete) {
      PrintError(path + L": " + entry + L": " + Describe(state));
      result.sound = false;
      return result;
    }
    result.entries.push_back({record.Folder(), record.Name(), decoded, static_cast<std::uint64_t>(record.FileSize())});
  }
  result.end = reader.EntriesEnd();
  return result;
}

IndexCheck CheckIndex(package::PackageReader& reader, const DecodedEntries& decoded) {
  const package::size_index::SizeIndex& index = reader.index();
  if (index.state == package::size_index::State::kValid) {
    const std::wstring mismatch = package::size_index::Mismatch(index, decoded.entries, decoded.end, true);
    if (mismatch.empty()) return {IndexState::kSound, {}};
    return {IndexState::kBroken, L"does not match the entries: " + mismatch};
  }
  if (index.state == package::size_index::State::kDamaged) return {IndexState::kBroken, L"damaged: " + index.damage};
  const std::uint64_t length = reader.file().Length();
  if (decoded.end >= length) return {IndexState::kAbsent, {}};
  if (package::size_index::FollowsEntries(reader.file(), decoded.end))
    return {IndexState::kBroken, L"damaged: the file does not end in its footer"};
  return {IndexState::kForeignTail, {}};
}

}  // namespace nwq
