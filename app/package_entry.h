// One package as the session hands it round: the catalogue's name and title
// and, once it is chosen, what its file says of its sizes.
#pragma once

#include <algorithm>
#include <cwctype>
#include <string>
#include <vector>

#include "app/package_sizes.h"

namespace app {

struct PackageEntry {
  std::wstring name;   // the file name without ".nwq", the header's GUID
  std::wstring title;  // empty when the header could not be read for it
  PackageSizes sizes;  // read when the package is chosen
};

// Package names are GUIDs, which people write in either case.
inline bool SamePackageName(const std::wstring& a, const std::wstring& b) {
  return std::equal(a.begin(), a.end(), b.begin(), b.end(),
                    [](wchar_t x, wchar_t y) { return std::towlower(x) == std::towlower(y); });
}

inline std::vector<std::wstring> PackageNames(const std::vector<PackageEntry>& packages) {
  std::vector<std::wstring> names;
  names.reserve(packages.size());
  for (const PackageEntry& package : packages)
    names.push_back(package.name);
  return names;
}

}  // namespace app
