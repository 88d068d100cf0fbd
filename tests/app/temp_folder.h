// A fresh folder for one test, removed with everything in it afterwards.
#pragma once

#include <atomic>
#include <filesystem>
#include <string>

#include "platform/platform.h"

class TempFolder {
 public:
  TempFolder() {
    static std::atomic<int> counter{0};
    const auto stamp = std::filesystem::file_time_type::clock::now().time_since_epoch().count();
    path_ = std::filesystem::temp_directory_path() /
            ("tessavo-test-" + std::to_string(stamp) + "-" + std::to_string(counter++));
    std::filesystem::create_directories(path_);
  }
  ~TempFolder() {
    std::error_code ignored;
    std::filesystem::permissions(path_, std::filesystem::perms::owner_all, ignored);
    std::filesystem::remove_all(path_, ignored);
  }
  TempFolder(const TempFolder&) = delete;
  TempFolder& operator=(const TempFolder&) = delete;

  const std::filesystem::path& path() const { return path_; }
  // The folder, or a folder below it, as the wizard writes folders: with a
  // trailing separator.
  std::wstring Folder(const std::filesystem::path& below = {}) const {
    std::filesystem::path full = below.empty() ? path_ : path_ / below;
    std::wstring folder = full.make_preferred().wstring();
    if (folder.back() != platform::kPathSeparator) folder += platform::kPathSeparator;
    return folder;
  }

 private:
  std::filesystem::path path_;
};
