// The temporary files that entries are decoded into, each in its target's own
// folder so that the finished file can be moved over the target in one step.
// Their names follow one pattern, kPrefix + 8 hex digits + kSuffix, which no
// record may use: a cleanup can never take an installed file for a leftover.
#pragma once

#include <cstddef>
#include <mutex>
#include <set>
#include <string>

#include "platform/platform.h"

namespace package::temp_files {

inline constexpr wchar_t kPrefix[] = L"~nwq";
inline constexpr std::size_t kHexDigits = 8;
inline constexpr wchar_t kSuffix[] = L".tmp";

// True when the file name follows the pattern, in any case (Windows does not
// tell the cases of names apart).
bool IsTempName(const std::wstring& name);

// The names of the temporary files one run created. A decoded file waits
// closed for its turn, so only this tells it from a killed run's leftover.
// The run's decoders add to it side by side.
class OwnFiles {
 public:
  void Add(const std::wstring& name);
  bool Holds(const std::wstring& name) const;

 private:
  mutable std::mutex mutex_;
  std::set<std::wstring> names_;
};

// Creates a temporary file that did not exist before in `folder` (which ends
// in a separator), open for writing without sharing, and adds its name to
// `own`; file->Path() names it. False when it cannot be created; *error then
// holds the open's FileError.
bool Create(const std::wstring& folder, platform::File* file, FileError* error, OwnFiles& own);

// Removes the temporary files in `folder` that a killed run left behind.
// Files that another run still holds open, those in `own`, and every other
// name stay.
void RemoveLeftovers(const std::wstring& folder, const OwnFiles& own);

}  // namespace package::temp_files
