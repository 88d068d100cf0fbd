// Builds package files byte by byte, including broken ones that no writer
// would make: the tests' way to hand the reader exactly the input at stake.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "package/package.h"
#include "package/size_index.h"

// Bytes that are the same every run and barely compress: data whose stream
// spans many input chunks.
std::vector<std::uint8_t> Pattern(std::size_t size);

std::vector<std::uint8_t> Compress(const std::vector<std::uint8_t>& data, int level = 6);

class PackageBytes {
 public:
  explicit PackageBytes(const std::wstring& guid, const std::wstring& title = L"Title",
                        std::int32_t version = package::kPackageVersion);

  // An entry with `data` compressed as one zlib stream.
  PackageBytes& Entry(const std::wstring& folder, const std::wstring& name, const std::vector<std::uint8_t>& data,
                      std::uint64_t created = 0, std::uint64_t modified = 0);
  // An entry whose stored bytes are given as they are, with any FileSize.
  PackageBytes& RawEntry(const std::wstring& folder, const std::wstring& name, const std::vector<std::uint8_t>& stored,
                         std::int64_t fileSize, std::uint64_t created = 0, std::uint64_t modified = 0);
  PackageBytes& Append(const std::vector<std::uint8_t>& bytes);
  // The unpacked size the index lists for the last entry: a raw entry's is 0
  // (unknown) unless given here.
  PackageBytes& Unpacked(std::uint64_t size);
  // A copy with a valid size index behind the entries added so far.
  PackageBytes Indexed() const;

  std::vector<std::uint8_t>& bytes() { return bytes_; }
  // Writes <folder>/<guid>.nwq and returns its path.
  std::wstring WriteTo(const std::wstring& folder) const;

 private:
  std::wstring guid_;
  std::vector<std::uint8_t> bytes_;
  std::vector<package::size_index::Entry> listed_;
};

// A package of no entries whose size index stands at `offset` and lists
// `count` entries of nothing (20 bytes each) in `dataLength` bytes of data.
// The bytes before the index and the rest of its data are zeros left to the
// file system as holes, so a package of any size costs next to no disk.
// `sealed` gives it the checksum that matches, as a hostile package would;
// otherwise the checksum is wrong. Returns its path.
std::wstring WriteLargeIndexedPackage(const std::wstring& folder, const std::wstring& guid, std::uint64_t offset,
                                      std::uint32_t count, std::uint64_t dataLength, bool sealed);
