// The temporary files that entries are decoded into, each in its target's own
// folder so that the finished file can be moved over the target in one step.
// Their names follow one pattern, kPrefix + 8 hex digits + kSuffix, which no
// record may use: a cleanup can never take an installed file for a leftover.
#pragma once

#include <cstddef>
#include <string>

#include "platform/platform.h"

namespace temp_files {

inline constexpr wchar_t kPrefix[] = L"~nwq";
inline constexpr std::size_t kHexDigits = 8;
inline constexpr wchar_t kSuffix[] = L".tmp";

// True when the file name follows the pattern, in any case (Windows does not
// tell the cases of names apart).
bool IsTempName(const std::wstring& name);

// Creates a temporary file that did not exist before in `folder` (which ends
// in a separator), open for writing without sharing; file->Path() names it.
// False when it cannot be created; *error then holds the open's FileError.
bool Create(const std::wstring& folder, platform::File* file, FileError* error);

// Removes the temporary files in `folder` that a killed run left behind.
// Files that another run still holds open, and every other name, stay.
void RemoveLeftovers(const std::wstring& folder);

}  // namespace temp_files
