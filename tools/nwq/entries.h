// Decoding every entry of a package once: what verify judges and what index
// counts, by the same rules.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "package/reader.h"
#include "package/size_index.h"

namespace nwq {

struct DecodedEntries {
  std::vector<package::size_index::Entry> entries;  // with their decoded sizes
  std::uint64_t unpackedBytes = 0;
  std::uint64_t end = 0;  // where the entry list ended
  bool sound = true;
};

// Decodes every entry of the package `reader` has just opened, naming each
// damaged or unsafe entry of `path` on standard error. The walk stops at the
// first broken stream, whose successor's place cannot be trusted.
DecodedEntries DecodeEntries(const std::wstring& path, package::PackageReader& reader);

enum class IndexState {
  kAbsent,      // none, and nothing behind the entries
  kSound,       // valid and it matches the entries
  kBroken,      // damaged, cut short or not matching: see `why`
  kForeignTail  // no index, but other bytes behind the entries
};

struct IndexCheck {
  IndexState state = IndexState::kAbsent;
  std::wstring why;  // for people, after "size index "
};

// Judges the package's size index against its decoded entries.
IndexCheck CheckIndex(package::PackageReader& reader, const DecodedEntries& decoded);

}  // namespace nwq
