#include "app/space_need.h"

#include <algorithm>
#include <cstdint>
#include <cwctype>
#include <limits>
#include <unordered_map>

#include "package/entry_path.h"
#include "package/package_path.h"

namespace app {

namespace {

// Sizes as signed byte counts: replacing a large file by a small one frees
// room. No drive comes near the limits, so both ends saturate.
using Bytes = std::int64_t;
constexpr Bytes kMost = std::numeric_limits<Bytes>::max();
constexpr Bytes kLeast = std::numeric_limits<Bytes>::min();

Bytes Clamped(std::uint64_t size) {
  return size > static_cast<std::uint64_t>(kMost) ? kMost : static_cast<Bytes>(size);
}

Bytes Plus(Bytes a, Bytes b) {
  Bytes sum = 0;
  if (__builtin_add_overflow(a, b, &sum)) return b > 0 ? kMost : kLeast;
  return sum;
}

Bytes Minus(Bytes a, Bytes b) {
  Bytes difference = 0;
  if (__builtin_sub_overflow(a, b, &difference)) return b < 0 ? kMost : kLeast;
  return difference;
}

std::uint64_t PlusUnsigned(std::uint64_t a, std::uint64_t b) {
  std::uint64_t sum = 0;
  return __builtin_add_overflow(a, b, &sum) ? std::numeric_limits<std::uint64_t>::max() : sum;
}

// Two spellings of one file are one file: Windows ignores case.
std::wstring FileKey(std::wstring path) {
#if defined(_WIN32)
  for (wchar_t& c : path) {
    c = c == L'/' ? L'\\' : static_cast<wchar_t>(std::towlower(c));
  }
#endif
  return path;
}

}  // namespace

std::uint64_t SpaceNeed::AtLeast() const { return PlusUnsigned(known, unknownStored); }

SpaceNeed ComputeSpaceNeed(const std::vector<PackageEntry>& packages, const std::wstring& destination,
                           const ExistingFileSize& existingSize) {
  SpaceNeed need;
  std::unordered_map<std::wstring, Bytes> written;  // what each path holds once its file is in place
  Bytes added = 0;
  Bytes peak = 0;
  Bytes largest = 0;
  for (const PackageEntry& package : packages) {
    const PackageSizes& sizes = package.sizes;
    if (!sizes.indexed) {
      ++need.unknownPackages;
      need.unknownStored = PlusUnsigned(need.unknownStored, sizes.storedSize);
      continue;
    }
    for (const IndexedFile& file : sizes.files) {
      const Bytes size = Clamped(file.size);
      largest = std::max(largest, size);
      Bytes replaced = 0;
      // A path the copy refuses replaces nothing; its size still counts, to
      // be on the safe side.
      if (package::entry_path::IsSafe(file.storedFolder, file.name)) {
        const std::wstring path =
            package::package_path::Join(destination, package::package_path::StoredFolder(file.storedFolder), file.name)
                .file;
        auto [at, first] = written.try_emplace(FileKey(path), 0);
        if (first) {
          const std::optional<std::uint64_t> existing = existingSize ? existingSize(path) : std::nullopt;
          at->second = existing ? Clamped(*existing) : 0;
        }
        replaced = at->second;
        at->second = size;
      }
      peak = std::max(peak, Plus(added, size));
      added = Plus(added, Minus(size, replaced));
    }
  }
  const Bytes known = std::max({Bytes{0}, peak, Plus(added, largest)});
  need.known = static_cast<std::uint64_t>(known);
  return need;
}

}  // namespace app
