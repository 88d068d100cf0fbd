// What the chosen packages' files say about their unpacked sizes, read
// before the copy from their size indexes.
#pragma once

#include <string>
#include <vector>

#include "app/space_need.h"

// The package at `path`: its stored size and, when it ends with an index
// that checks out, every file with its unpacked size. A package that cannot
// be read, for whatever reason, counts as one without an index; the copy
// reports it in its turn. Never throws.
PackageSizes ReadPackageSizes(const std::wstring& path);

// The named packages of `packageFolder`, in the order given.
std::vector<PackageSizes> ReadPackageSizes(const std::wstring& packageFolder, const std::vector<std::wstring>& names);
