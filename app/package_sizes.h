// What a package's file says about its unpacked sizes, read before the copy
// from its size index.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace app {

// One file a package holds, as its index lists it.
struct IndexedFile {
  std::wstring storedFolder;
  std::wstring name;
  std::uint64_t size = 0;    // unpacked
  std::uint64_t stored = 0;  // the record's FileSize
};

// What is known of a package's contents before it is unpacked.
struct PackageSizes {
  // True when `files` lists every file with its unpacked size; false for a
  // package without an index, or with one that cannot be trusted.
  bool indexed = false;
  std::vector<IndexedFile> files;
  std::uint64_t storedSize = 0;  // the package file's own size
  // False when the file could not be opened or its end read: then nothing
  // is known of an index either way.
  bool read = false;
};

// The package at `path`: its stored size and, when it ends with an index
// that checks out, every file with its unpacked size. A package that cannot
// be read, for whatever reason, counts as one without an index; the copy
// reports it in its turn. Never throws.
PackageSizes ReadPackageSizes(const std::wstring& path);

}  // namespace app
