// The folders the wizard derives at start-up. Windows paths: these rules work
// on "\" whatever the build platform, so they are tested natively as well.
#pragma once

#include <optional>
#include <string>
#include <string_view>

namespace app {

inline constexpr wchar_t kPackageSubfolder[] = L"\\Karten\\";
inline constexpr wchar_t kProgramFilesPlaceholder[] = L"%ProgramFiles%";

// Appends "\" unless the text already ends in one; "" becomes "\".
std::wstring EnsureTrailingBackslash(std::wstring path);

// The text before the last "\" of the program's path; empty without one.
std::wstring ProgramFolderOf(std::wstring_view programPath);

// The program folder followed by "\Karten\".
std::wstring PackageFolderOf(const std::wstring& programFolder);

// The program-files folder (or the unexpanded placeholder when the lookup
// failed) followed by the destination suffix.
std::wstring DefaultDestination(const std::optional<std::wstring>& programFilesFolder, const std::wstring& suffix);

}  // namespace app
