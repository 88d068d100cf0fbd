// The paths that a file record names, checked before anything is written:
// a package must never place a file outside the destination it is unpacked to.
#pragma once

#include <string>

namespace package::entry_path {

// True when the record's folder and name stay inside the destination: no
// ".." (or other dots-only) component, no rooted path, no drive or stream
// colon, no device name; and a name that is not one of the extractor's
// temporary names (temp_files.h). Both "\" and "/" count as separators.
bool IsSafe(const std::wstring& folder, const std::wstring& name);

}  // namespace package::entry_path
