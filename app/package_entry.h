// One package as the session hands it round: the catalogue's name and title
// and, once it is chosen, what its file says of its sizes.
#pragma once

#include <string>
#include <vector>

#include "app/package_sizes.h"

namespace app {

struct PackageEntry {
  std::wstring name;   // the file name without ".nwq", the header's GUID
  std::wstring title;  // empty when the header could not be read for it
  PackageSizes sizes;  // read when the package is chosen
};

inline std::vector<std::wstring> PackageNames(const std::vector<PackageEntry>& packages) {
  std::vector<std::wstring> names;
  names.reserve(packages.size());
  for (const PackageEntry& package : packages)
    names.push_back(package.name);
  return names;
}

}  // namespace app
