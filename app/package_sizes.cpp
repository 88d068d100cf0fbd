#include "app/package_sizes.h"

#include "package/package_path.h"
#include "platform/platform.h"

PackageSizes ReadPackageSizes(const std::wstring& path) {
  PackageSizes sizes;
  sizes.storedSize = platform::FileSize(path).value_or(0);
  return sizes;
}

std::vector<PackageSizes> ReadPackageSizes(const std::wstring& packageFolder, const std::vector<std::wstring>& names) {
  std::vector<PackageSizes> packages;
  packages.reserve(names.size());
  for (const std::wstring& name : names)
    packages.push_back(ReadPackageSizes(package_path::Build(packageFolder, name)));
  return packages;
}
