// A private folder tree per test, and a record of everything in it, so a test
// can prove that a failed installation touched nothing it should not.
#pragma once

#include <cstdint>
#include <filesystem>
#include <map>
#include <string>
#include <vector>

#include "support/temp_dir.h"

class Sandbox {
 public:
  const std::filesystem::path& root() const { return dir_.path(); }
  // A folder below the root as the package code takes it: ending in "/".
  std::wstring Folder(const std::string& relative) const;

 private:
  TempDir dir_;
};

struct EntryState {
  bool folder = false;
  std::uintmax_t size = 0;
  std::filesystem::file_time_type modified;
  std::vector<std::uint8_t> content;
  bool operator==(const EntryState&) const = default;
};

// Every entry below `root`, leaving out the subtree `skip` (if any).
std::map<std::string, EntryState> Snapshot(const std::filesystem::path& root, const std::filesystem::path& skip = {});

std::vector<std::uint8_t> ReadBytes(const std::filesystem::path& path);
void WriteBytes(const std::filesystem::path& path, const std::vector<std::uint8_t>& bytes);
// Bytes that zlib cannot shrink, so their package is as large as the files.
std::vector<std::uint8_t> NoiseBytes(std::size_t size, std::uint32_t seed);
// True when no one holds the file open: an exclusive lock can be taken.
bool NobodyHasOpen(const std::filesystem::path& path);
