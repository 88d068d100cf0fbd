// Whether the chosen packages fit on the destination's drive, and the texts
// that say so. The check only asks; it changes nothing on disk, so it runs
// before the destination is created.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "app/destination_check.h"
#include "app/space_need.h"

namespace app {

struct SpaceCheck {
  SpaceNeed need;
  std::optional<std::uint64_t> available;  // nullopt: the system cannot say

  // Only the known need can refuse, and only against a known availability.
  bool Fits() const { return !available || need.known <= *available; }
};

SpaceCheck CheckSpace(const std::wstring& destination, const std::vector<PackageEntry>& packages,
                      DestinationFileSystem& fileSystem);

// "Space required: 12.3 MB", or "Space required: at least 12.3 MB" while a
// package's contents are unknown; then "Space available: 1.20 GB" (or
// "unknown"), on two lines. Sizes as the system writes them.
std::wstring SpaceSummaryText(const SpaceCheck& check);

// The refusal the user sees, with the known need and the space available.
std::wstring NotEnoughSpaceText(const SpaceCheck& check);

}  // namespace app
