// A fresh folder per test, removed with everything in it afterwards.
#pragma once

#include <cstdint>
#include <filesystem>
#include <string>
#include <vector>

class TempDir {
 public:
  TempDir();
  ~TempDir();
  TempDir(const TempDir&) = delete;
  TempDir& operator=(const TempDir&) = delete;

  const std::filesystem::path& path() const { return path_; }
  // The folder as the package code takes folders: ending in a separator.
  std::wstring Folder() const;
  std::wstring Folder(const std::wstring& sub) const;
  std::wstring File(const std::wstring& relative) const;

 private:
  std::filesystem::path path_;
};

std::vector<std::uint8_t> ReadAll(const std::filesystem::path& path);
void WriteAll(const std::filesystem::path& path, const std::vector<std::uint8_t>& bytes);
std::vector<std::uint8_t> Bytes(const std::string& text);
// Wine stands in for Windows in these tests; where it cannot (creation
// times on a Unix file system), tests ask.
bool RunningUnderWine();
// Every file and folder below `root`, as relative generic paths, sorted.
std::vector<std::string> TreeOf(const std::filesystem::path& root);
