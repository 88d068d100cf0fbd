// How much room a copy takes on the destination's drive, worked out before
// anything is written from what the packages' size indexes say.
#pragma once

#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <vector>

#include "app/package_entry.h"

namespace app {

struct SpaceNeed {
  std::uint64_t known = 0;          // what the indexed packages add at the copy's peak
  std::size_t unknownPackages = 0;  // packages whose contents are not known
  std::uint64_t unknownStored = 0;  // their stored sizes together

  bool Complete() const { return unknownPackages == 0; }
  // The least the whole copy needs: an unknown package unpacks to at least
  // its stored size.
  std::uint64_t AtLeast() const;
};

// The size of the file a path names now; nullopt when there is none.
using ExistingFileSize = std::function<std::optional<std::uint64_t>(const std::wstring& path)>;

// The packages are unpacked in order into `destination` (which ends in a
// separator). Each file is decoded beside the one it replaces, which goes
// only when the new one is complete. The known need is the unpacked sizes,
// less the existing files they replace, plus the largest single file; where
// replaced files are larger than their successors it is never less than the
// real peak in copy order. A path written twice counts once, the last
// write winning. Sums saturate rather than wrap.
SpaceNeed ComputeSpaceNeed(const std::vector<PackageEntry>& packages, const std::wstring& destination,
                           const ExistingFileSize& existingSize);

}  // namespace app
