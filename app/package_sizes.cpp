#include "app/package_sizes.h"

#include "package/size_index.h"
#include "platform/platform.h"

namespace app {

PackageSizes ReadPackageSizes(const std::wstring& path) {
  PackageSizes sizes;
  try {
    platform::File package;
    if (!package.Open(path, platform::File::Mode::kReadExclusive)) return sizes;
    sizes.storedSize = package.Length();
    // Absent or damaged alike: an index that does not check out is never trusted.
    const package::size_index::SizeIndex index = package::size_index::Read(package);
    sizes.read = true;
    if (!index.IsValid()) return sizes;
    sizes.files.reserve(index.entries.size());
    for (const package::size_index::Entry& entry : index.entries)
      sizes.files.push_back(IndexedFile{entry.folder, entry.name, entry.unpackedSize, entry.storedSize});
    sizes.indexed = true;
  } catch (...) {
    // An index that cannot be read (the medium, memory that runs out) only
    // leaves the package's need unknown: the copy meets any real fault itself.
    sizes.indexed = false;
    sizes.read = false;
    sizes.files.clear();
  }
  return sizes;
}

}  // namespace app
