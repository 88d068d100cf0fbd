// Splitting and joining of package paths, in one place: the package file's own
// path and name, and the paths that a file record names below a destination.
#pragma once

#include <filesystem>
#include <optional>
#include <string>

namespace package::package_path {

// folder + separator + packageName + ".nwq"; the folder is taken unchanged.
std::wstring Build(const std::wstring& folder, const std::wstring& packageName);

// True when a file name ends in ".nwq" (in any case on Windows, whose file
// system ignores it).
bool HasPackageExtension(const std::wstring& fileName);
// The file name part of a path ("/" and the platform's separator split).
std::wstring FileNameOf(const std::wstring& path);
// The folder part of a path, ending in a separator (empty for a bare name).
std::wstring FolderOf(const std::wstring& path);
// The package name a path stands for: its file name without ".nwq"; nullopt
// for a file that is not named as a package.
std::optional<std::wstring> PackageNameOf(const std::wstring& path);

// A record's folder as it is joined: ending in "\" unless empty.
std::wstring StoredFolder(std::wstring folder);
// A relative folder of the file system in the stored form ("\"-separated,
// empty for the top).
std::wstring StoredFolderOf(const std::filesystem::path& relativeFolder);
// A stored relative path in the platform's form: "\" becomes "/" on POSIX.
std::wstring ToNative(std::wstring stored);

// Where a record's file goes: destination + folder (with its separator) +
// name, joined as they stand, in the platform's form.
struct EntryPaths {
  std::wstring folder;
  std::wstring file;
};
EntryPaths Join(const std::wstring& destination, const std::wstring& storedFolder, const std::wstring& name);

}  // namespace package::package_path
