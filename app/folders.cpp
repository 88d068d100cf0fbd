#include "app/folders.h"

namespace app {

std::wstring EnsureTrailingBackslash(std::wstring path) {
  if (path.empty() || path.back() != L'\\') path += L'\\';
  return path;
}

std::wstring ProgramFolderOf(std::wstring_view programPath) {
  const std::size_t last = programPath.rfind(L'\\');
  if (last == std::wstring_view::npos) return {};
  return std::wstring(programPath.substr(0, last));
}

std::wstring PackageFolderOf(const std::wstring& programFolder) { return programFolder + kPackageSubfolder; }

std::wstring DefaultDestination(const std::optional<std::wstring>& programFilesFolder, const std::wstring& suffix) {
  return programFilesFolder.value_or(kProgramFilesPlaceholder) + suffix;
}

}  // namespace app
