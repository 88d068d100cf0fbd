#include "package/package_path.h"

#include <string_view>

#include "platform/fs_path.h"
#include "platform/platform.h"

namespace package::package_path {
namespace {

bool IsSeparator(wchar_t c) { return c == L'/' || c == platform::kPathSeparator; }

std::size_t NameStart(const std::wstring& path) {
  for (std::size_t i = path.size(); i > 0; --i)
    if (IsSeparator(path[i - 1])) return i;
  return 0;
}

constexpr std::wstring_view kExtension = L".nwq";

}  // namespace

std::wstring Build(const std::wstring& folder, const std::wstring& packageName) {
  return folder + platform::kPathSeparator + packageName + std::wstring(kExtension);
}

bool HasPackageExtension(const std::wstring& fileName) {
  if (fileName.size() < kExtension.size()) return false;
  const std::size_t start = fileName.size() - kExtension.size();
  for (std::size_t i = 0; i < kExtension.size(); ++i) {
    wchar_t c = fileName[start + i];
#if defined(_WIN32)
    if (c >= L'A' && c <= L'Z') c = static_cast<wchar_t>(c - L'A' + L'a');
#endif
    if (c != kExtension[i]) return false;
  }
  return true;
}

std::wstring FileNameOf(const std::wstring& path) { return path.substr(NameStart(path)); }

std::wstring FolderOf(const std::wstring& path) { return path.substr(0, NameStart(path)); }

std::optional<std::wstring> PackageNameOf(const std::wstring& path) {
  const std::wstring file = FileNameOf(path);
  if (!HasPackageExtension(file)) return std::nullopt;
  return file.substr(0, file.size() - kExtension.size());
}

std::wstring StoredFolder(std::wstring folder) {
  if (!folder.empty() && folder.back() != L'\\') folder += L'\\';
  return folder;
}

std::wstring StoredFolderOf(const std::filesystem::path& relativeFolder) {
  std::wstring stored;
  for (const auto& part : relativeFolder) {
    const std::wstring text = platform::WidePath(part);
    if (text.empty() || text == L".") continue;
    if (!stored.empty()) stored += L'\\';
    stored += text;
  }
  return stored;
}

std::wstring ToNative(std::wstring stored) {
  if constexpr (platform::kPathSeparator != L'\\') {
    for (wchar_t& c : stored)
      if (c == L'\\') c = platform::kPathSeparator;
  }
  return stored;
}

EntryPaths Join(const std::wstring& destination, const std::wstring& storedFolder, const std::wstring& name) {
  EntryPaths paths;
  paths.folder = destination + ToNative(StoredFolder(storedFolder));
  paths.file = paths.folder + ToNative(name);
  return paths;
}

}  // namespace package::package_path
