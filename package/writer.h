// Writes packages: what the people who make map packages use, and what the
// tests build their packages with.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "package/package.h"
#include "package/size_index.h"

namespace package {

class PackageWriter {
 public:
  // Creates (or replaces) the package file and writes its header. Raises
  // FileError when the file cannot be created.
  PackageWriter(const std::wstring& path, const PackageHeader& header, int level = 6);

  // Adds one entry whose data is streamed from `sourcePath` through zlib,
  // never held whole in memory. Raises FileError for the source or package.
  void AddFile(const std::wstring& folder, const std::wstring& name, const std::wstring& sourcePath,
               std::uint64_t createDate, std::uint64_t modifiedDate);
  // Adds one entry from memory.
  void AddData(const std::wstring& folder, const std::wstring& name, const void* data, std::size_t size,
               std::uint64_t createDate, std::uint64_t modifiedDate);
  // Appends the size index of the entries added, then flushes and closes the
  // package; raises FileError on a write error.
  void Close();

  // Raised for texts that do not fit their slots.
  struct TextTooLong : std::exception {
    const char* what() const noexcept override { return "text too long for its slot"; }
  };

 private:
  template <typename Source>
  void AddEntry(const std::wstring& folder, const std::wstring& name, std::uint64_t createDate,
                std::uint64_t modifiedDate, Source&& source);

  platform::File file_;
  int level_;
  std::vector<size_index::Entry> entries_;
};

}  // namespace package
